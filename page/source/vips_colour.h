// The colour steps every page image goes through in libvips: decoded,
// alpha flattened on white, converted to exactly three 8-bit sRGB bands;
// and libvips' start, which the image adapter and the page source share.
#pragma once

#include <vips/vips8>

namespace tallowin {

// Exactly three 8-bit sRGB bands, alpha flattened on white. An embedded ICC
// profile is honoured when usable; CMYK without one goes through libvips'
// built-in CMYK profile; grey is repeated into three bands. Throws
// vips::VError as libvips does.
vips::VImage ToOpaqueRgb(vips::VImage in);

// Starts libvips once per process, as the image adapter does: untrusted
// loaders blocked, operation cache off. False when libvips cannot start.
bool InitVipsOnce();

}  // namespace tallowin
