// How much memory decoding a picture takes, estimated from its header
// before anything is decoded, so that a picture that would need more than
// the service can give is refused instead of taking the service down.
#pragma once

#include <cstdint>
#include <string_view>
#include <vips/vips8>

namespace tallowin {

// The bytes the decoder holds at once for the whole picture, by format:
//  - JPEG, progressive or in several scans: libjpeg keeps every DCT
//    coefficient, width x height x components x 2 bytes; a baseline JPEG
//    in one scan streams in rows (0 here).
//  - PNG, interlaced: the whole image, width x height x bands x bytes a
//    sample; not interlaced it streams (0).
//  - GIF: libvips' GIF loader holds the whole frame as RGBA, x 4.
//  - WebP: libwebp decodes the whole image, and a lossless one through a
//    second ARGB buffer: x 8.
//  - HEIF (HEIC, AVIF): libheif's planes and the interleaved image, x 6
//    a byte of sample.
//  - TIFF and every other format: strips or tiles, left out (0).
// header is libvips' header of the file, loader its loader's nickname, fd
// the file (read with pread, offset left alone). Never fails.
std::uint64_t DecodeMemoryNeeded(const vips::VImage& header, std::string_view loader, int fd);

// Bytes as whole MiB, rounded up, for reasons shown to the user.
std::uint64_t ToMiB(std::uint64_t bytes);

}  // namespace tallowin
