// How the image bytes of a page are encoded: the page source chooses, the
// encoder and the PDF writer follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tallowin {

enum class PageCodec {
    Dct,     // the image bytes are a baseline JPEG, Width x Height
    FlateUp  // zlib stream of rows, each led by PNG filter byte 2 (Up), RGB
};

// A page that comes as planes rather than RGB rows: a JPEG's own Y, Cb and
// Cr (or its one grey plane), each at its own size, encoded as they are,
// with no colour conversion and no chroma resampling on either side.
struct PlaneLayout {
    int Count = 0;         // 0: RGB rows; 1: grey; 3: Y, Cb, Cr
    int H[3] = {1, 1, 1};  // JPEG sampling factors; plane 0's are the largest
    int V[3] = {1, 1, 1};
};

// Plane c's size on a page w pixels wide (h high): JPEG's, rounded up.
constexpr int PlaneWidth(const PlaneLayout& l, int c, int w) {
    return static_cast<int>((std::int64_t{w} * l.H[c] + l.H[0] - 1) / l.H[0]);
}
constexpr int PlaneHeight(const PlaneLayout& l, int c, int h) {
    return static_cast<int>((std::int64_t{h} * l.V[c] + l.V[0] - 1) / l.V[0]);
}

// A strip of planes holds `groups` rows of JPEG blocks (8 * V[0] luma rows
// each, the last strip fewer): plane c's rows, PlaneStride bytes apart,
// follow plane c - 1's; a row's samples past the plane's width repeat its
// last one (the encoder reads whole blocks).
constexpr int PlaneStride(const PlaneLayout& l, int c, int w) {
    return (PlaneWidth(l, c, w) + 7) / 8 * 8;
}
constexpr int PlaneStripRows(const PlaneLayout& l, int c, int groups) {
    return groups * 8 * l.V[c];
}
constexpr std::size_t PlaneStripOffset(const PlaneLayout& l, int c, int w, int groups) {
    std::size_t at = 0;
    for (int p = 0; p < c; ++p) {
        at += static_cast<std::size_t>(PlaneStride(l, p, w)) *
              static_cast<std::size_t>(PlaneStripRows(l, p, groups));
    }
    return at;
}

// The layout turned a quarter: the factors of each plane swap.
constexpr PlaneLayout Transposed(PlaneLayout l) {
    for (int c = 0; c < 3; ++c) {
        const int h = l.H[c];
        l.H[c] = l.V[c];
        l.V[c] = h;
    }
    return l;
}

// Takes one row of plane `plane` (PlaneWidth bytes), each plane top to
// bottom; rows of the planes come interleaved as they are made.
using PlaneRowSink = std::function<bool(int plane, const unsigned char* row)>;

}  // namespace tallowin
