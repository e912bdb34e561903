// Separable fixed-point bilinear enlargement of 8-bit RGB rows, fed source
// rows top to bottom and giving each output row as soon as the source rows
// it needs have arrived: two horizontally enlarged rows are all it keeps.
//
// libvips enlarges through its general affine resampler, which costs several
// times more than two fixed-point passes. The sampling is libvips' (what
// vips_resize's affine does when it enlarges): output pixel x samples the
// source at x * sw / dw - 0.5, edge pixels repeated beyond the image. Weights carry 8 bits, so the
// result is within one level of a floating-point bilinear.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class BilinearEnlarger {
  public:
    // Takes one output row (dw * 3 bytes, valid during the call); false
    // stops the enlargement.
    using RowSink = std::function<bool(const unsigned char* row)>;

    // dw >= sw > 0 and dh >= sh > 0.
    BilinearEnlarger(int sw, int sh, int dw, int dh);

    // Takes source row y (sw * 3 bytes); rows must come in order 0, 1, ...
    // Gives every output row that row completes to emit. False when emit
    // refused.
    bool Push(int y, const unsigned char* row, const RowSink& emit);
    // Output rows given so far.
    int RowsOut() const { return next_; }

  private:
    struct Tap {
        int Index;           // first source row or column
        std::uint32_t Frac;  // weight of the next one, 0..256
    };
    static std::vector<Tap> Taps(int from, int to);
    void ScaleRow(const unsigned char* in, std::uint16_t* out);
    void BlendRows(const std::uint16_t* a, const std::uint16_t* b, std::uint32_t frac);

    const int dw_, dh_;
    const std::vector<Tap> columns_;
    const std::vector<Tap> rows_;
    std::vector<std::uint16_t> scaled_[2];  // source rows y % 2, enlarged across
    std::vector<std::uint64_t> wide_;       // the source row, a pixel a word
    std::vector<unsigned char> out_;
    int next_ = 0;  // next output row
};
