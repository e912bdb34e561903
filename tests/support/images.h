// Images that the tests make on the fly, written with libvips.
#pragma once

#include <string>

namespace testimages {

struct Recipe {
    int Width = 64;
    int Height = 48;
    int Bands = 3;      // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA (or CMYK, see Cmyk)
    bool Cmyk = false;  // 4 bands interpreted as CMYK (JPEG and TIFF only)
    bool SixteenBit = false;
    int Dpi = 0;                            // 0: write no resolution at all
    int Orientation = 0;                    // EXIF orientation 1..8; 0: none
    unsigned char R = 200, G = 40, B = 20;  // fill colour (RGB; grey uses R)
    unsigned char Alpha = 255;

    int YDpi = 0;              // vertical resolution when Dpi > 0; 0: same as Dpi
    bool Centimetres = false;  // resolution written per centimetre (JPEG EXIF, TIFF)
    bool Palette = false;      // PNG only: an 8-bit palette image
    // A Mark x Mark square of colour (MarkR, MarkG, MarkB) (same alpha) at the
    // top-left corner of the stored pixels, before any orientation; 0: none.
    int Mark = 0;
    unsigned char MarkR = 0, MarkG = 0, MarkB = 255;
};

// CMYK images take their ink from the RGB fill: C = 255 - R, M = 255 - G,
// Y = 255 - B, K = 0; so R, G, B = 0, 255, 255 is pure cyan ink and white is
// no ink at all. 16-bit images store each 8-bit value v as v * 257.
//
// Writes an image of the given recipe; the format comes from the suffix of
// path (.jpg, .png, .tif), but tests may rename the file afterwards. With
// Dpi 0 the file carries no resolution at all: libvips always writes one, so
// the helper takes it out again (JPEG: no JFIF or EXIF density; PNG: no pHYs
// chunk; TIFF: no XResolution, YResolution or ResolutionUnit tag). Fails the
// current test on any error (a recipe the format cannot hold included).
void Write(const std::string& path, const Recipe& recipe);

}  // namespace testimages
