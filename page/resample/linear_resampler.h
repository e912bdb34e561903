// Separable fixed-point linear resampling of 8-bit rows of one or three
// channels (RGB pixels, or one plane of a JPEG's Y, Cb, Cr), fed source rows
// top to bottom and giving each output row as soon as the source rows it
// needs have arrived: it keeps only the few horizontally resampled rows the
// vertical pass still needs.
//
// It computes what libvips' resize computes with the linear kernel, at a
// fraction of the cost (libvips enlarges through its general affine
// resampler; its reduce works a band and a tap at a time):
//   - enlarging: bilinear, output pixel x sampling the source at
//     x * sw / dw - 0.5 on both axes (vips_resize's affine);
//   - reducing, by s = sw / dw on each axis: a triangle of half-width s
//     centred at (x + 0.5) * s - 0.5, normalised (vips_reduce's linear
//     kernel).
// Edge pixels repeat beyond the image. Weights carry 8 bits across and 14
// bits down, so results are within a level of libvips'.
#pragma once

#include <cstdint>
#include <vector>

#include "page/resample/axis_sampling.h"
#include "util/sinks.h"

namespace tallowin {

class LinearResampler {
  public:
    // True when this resampler does sw x sh to dw x dh: both axes enlarged
    // or kept, or both reduced by factors below 2 or kept. vips_resize
    // shrinks by whole factors first from 2 on, and reduces one axis before
    // enlarging the other, which this does not copy.
    static bool Handles(int sw, int sh, int dw, int dh);

    // Handles(sw, sh, dw, dh) must hold. mirrorX, mirrorY: when enlarging,
    // sample that axis as if the source had been enlarged the other way
    // round and then flipped (enlarging's sampling is not symmetric; a
    // reduction's is, and ignores them). For images turned after resampling.
    LinearResampler(int sw, int sh, int dw, int dh, bool mirrorX = false, bool mirrorY = false);
    // channels (1 or 3) a pixel, each output pixel sampling where across and
    // down say: enlarging, a bilinear tent; else a triangle of half-width
    // the axis's Scale (at least 1). Any sizes.
    LinearResampler(int channels, int sw, int sh, int dw, int dh, bool enlarging,
                    AxisSampling across, AxisSampling down);

    // Takes source row y (sw * channels bytes); rows must come in order 0,
    // 1, ... Gives every output row that row completes to emit (dw *
    // channels bytes, valid during the call). False when emit refused.
    bool Push(int y, const unsigned char* row, const RowSink& emit);
    // Output rows given so far.
    int RowsOut() const { return next_; }

  private:
    // For every output pixel of an axis, Count weights on source pixels
    // First .. First + Count - 1.
    struct Taps {
        int Count = 0;
        std::vector<int> First;
        std::vector<std::uint32_t> Weights;  // Count per output pixel
    };
    static Taps AxisTaps(int from, int to, bool enlarging, AxisSampling at, int weightBits);
    void ScaleRow(const unsigned char* in, std::uint16_t* out);
    void ScalePlaneRow(const unsigned char* in, std::uint16_t* out) const;
    bool MakeShuffles();
    void ShufflePlaneRow(const unsigned char* in, std::uint16_t* out);
    void BlendRows(int y);

    const int channels_;
    const int dw_, dh_;
    const Taps columns_;  // 8-bit weights, summing to 256
    const Taps rows_;     // 14-bit weights, summing to 16384
    // Source rows y % rows_.Count, resampled across: a lane a channel of
    // value x 256, and one spare lane at the end.
    std::vector<std::vector<std::uint16_t>> scaled_;
    std::vector<std::uint64_t> wide_;  // the source row, a pixel a word
    // One channel, where every block of 8 output samples reads within 16
    // source bytes: per block its first source byte, and per pair of taps
    // a byte shuffle that picks each sample's two source bytes and their
    // two weights (ShufflePlaneRow).
    std::vector<int> blockFirst_;
    std::vector<std::uint8_t> shuffles_;      // 16 a pair of taps a block
    std::vector<std::uint16_t> pairWeights_;  // 16 a pair of taps a block
    std::vector<unsigned char> padded_;       // the source row, 16 bytes to spare
    std::vector<std::uint32_t> accumulator_;  // BlendRows' sums, past two taps
    std::vector<unsigned char> out_;
    int next_ = 0;  // next output row
};

}  // namespace tallowin
