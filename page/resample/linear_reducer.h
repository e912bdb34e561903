// Reduces 8-bit RGB rows as libvips' resize does with the linear kernel,
// pixel for pixel: down first, then across, each pass rounding to 8 bits,
// with libvips' masks (a triangle of half-width the factor, tabulated at
// 64ths of a pixel), its fixed-point weights (64ths down, as its vector
// path; 4096ths across) and its placement of the output grid. Fed source
// rows top to bottom, it gives each output row as soon as the rows it
// needs have arrived, keeping only those few.
//
// From a reduction by 4 it averages boxes of a whole factor first, as
// libvips does. Below 2 on both axes LinearResampler computes nearly the
// same page at less cost. Pages that only stray from libvips' by a level
// or two still drift from it after their JPEG re-encoding, which is why
// this copies it instead of merely resembling it.
#pragma once

#include <cstdint>
#include <vector>

#include "page/resample/axis_sampling.h"
#include "util/sinks.h"

namespace tallowin {

class LinearReducer {
  public:
    // True when both axes are reduced or kept, by less than 512.
    static bool Handles(int sw, int sh, int dw, int dh);

    // Handles(sw, sh, dw, dh) must hold.
    LinearReducer(int sw, int sh, int dw, int dh);
    // channels (1 or 3) a pixel, each output pixel centred where across and
    // down say rather than where libvips puts it: the same box and masks
    // (half-width the axis's Scale, at least 1), for planes whose grids are
    // not the page's. Handles(sw, sh, dw, dh) must hold.
    LinearReducer(int channels, int sw, int sh, int dw, int dh, AxisSampling across,
                  AxisSampling down);
    LinearReducer(const LinearReducer&) = delete;
    LinearReducer& operator=(const LinearReducer&) = delete;

    // Takes source row y (sw * channels bytes); rows must come in order 0,
    // 1, ... Gives every output row that row completes to emit (dw *
    // channels bytes, valid during the call). False when emit refused.
    bool Push(int y, const unsigned char* row, const RowSink& emit);
    // Output rows given so far.
    int RowsOut() const { return next_; }

  private:
    // One axis as libvips reduces it: first a box average of Box pixels
    // (Boxed of them left), then for output pixel i, Count boxed pixels
    // from First[i] (edges repeated), weighted by Weights.
    struct Axis {
        int Box = 1;
        int Boxed = 0;
        int Count = 0;
        std::vector<int> First;             // may lie before 0 or run past the end
        std::vector<std::int32_t> Weights;  // Count per output pixel
    };
    // at: the positions given outright; null for libvips' own.
    static Axis MakeAxis(int from, int to, int weightScale, const AxisSampling* at);
    LinearReducer(int channels, int sw, int sh, int dw, int dh, const AxisSampling* across,
                  const AxisSampling* down);
    void AddToBox(const unsigned char* row, bool first, int copies);
    void AverageBox(unsigned char* to) const;
    void ReduceDown(int y);
    void ReduceAcross();
    void ReducePlaneAcross();

    const int channels_;
    const int dw_, dh_;
    const Axis down_;    // 64ths
    const Axis across_;  // 4096ths
    const int sourceRows_;
    std::vector<std::vector<unsigned char>> held_;  // boxed row y at y % Count
    std::vector<std::uint32_t> boxSums_;            // the box being summed down
    std::vector<unsigned char> column_;             // one output row, reduced down
    std::vector<std::uint64_t> wide_;               // it boxed across, a pixel a word
    std::vector<std::int32_t> plane_;               // the same for one channel
    std::vector<std::uint16_t> sums_;               // ReduceDown's sums
    std::vector<unsigned char> out_;
    int next_ = 0;
};

}  // namespace tallowin
