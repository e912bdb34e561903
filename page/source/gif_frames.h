// A GIF file's frames read through to their last pixel, to tell a whole
// file from one whose picture data ends early.
//
// libvips' GIF loader fills what a frame's data leaves out with the
// background and reports nothing, so a GIF whose picture data stops (the
// data blocks end, or the end code comes, before the last pixel) would
// print with its lower part blank. giflib, which reports exactly that,
// decodes every frame here once, a row at a time, before libvips decodes
// the file for the page.
#pragma once

#include "engine/status.h"

namespace tallowin {

// Reads the GIF in fd from its first byte (pread: fd's offset is left
// alone). Success when every frame holds all its pixels; a file that ends
// after a whole frame without the trailer, or with stray bytes in its
// place, counts as whole.
// HF_ERR_DAMAGED with giflib's words when a frame's data ends early, is cut
// or cannot be decoded, or the blocks between frames are damaged. Memory:
// one row of the widest frame. Thread-safe (no shared state).
Status CheckGifFrames(int fd);

}  // namespace tallowin
