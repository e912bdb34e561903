#include "page/resample/linear_reducer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "page/resample/vector_clones.h"

namespace tallowin {

namespace {

// libvips tabulates its masks at 64ths of a pixel.
constexpr int kPositions = 64;
constexpr int kMaxReduction = 512;

// libvips' size on one axis reduced by shrink: rounded to nearest.
int ReducedSize(int from, double shrink) {
    return static_cast<int>(from / shrink + 0.5);
}

// libvips' linear mask at sub-pixel position x: a triangle of half-width
// shrink over 2 * rint(shrink) + 1 pixels, normalised.
std::vector<double> Triangle(double shrink, double x) {
    const int n = 2 * static_cast<int>(std::nearbyint(shrink)) + 1;
    const double half = x + n / 2.0 - 1;
    std::vector<double> c(static_cast<std::size_t>(n));
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        const double l = std::max(0.0, 1.0 - std::fabs((i - half) / shrink));
        c[static_cast<std::size_t>(i)] = l;
        sum += l;
    }
    for (double& v : c) v /= sum;
    return c;
}

// The weights of libvips' vector path, 64ths summing to what the mask
// sums to: the one scale that rounds to that sum, the rest spread over
// the first weights.
std::vector<std::int32_t> Sixty4ths(const std::vector<double>& c) {
    const int n = static_cast<int>(c.size());
    double fsum = 0;
    for (const double v : c) fsum += v;
    const int target = static_cast<int>(std::rint(fsum * 64));
    double high = 64 + (n + 1) / 2;
    double low = 64 - (n + 1) / 2;
    std::vector<std::int32_t> out(c.size());
    int sum = 0;
    do {
        const double guess = (high + low) / 2.0;
        sum = 0;
        for (std::size_t i = 0; i < c.size(); ++i) {
            out[i] = static_cast<std::int32_t>(std::rint(c[i] * guess));
            sum += out[i];
        }
        if (sum == target) break;
        if (sum < target) low = guess;
        if (sum > target) high = guess;
    } while (high - low > 0.01);
    if (sum != target) {
        const int each = (target - sum) / n;
        const int extra = (target - sum) % n;
        for (auto& v : out) v += each;
        for (int i = 0; i < std::abs(extra); ++i)
            out[static_cast<std::size_t>(i)] += extra > 0 ? 1 : -1;
    }
    return out;
}

// The weights of its plain path across: 4096ths, cut towards zero.
std::vector<std::int32_t> Fourths4096(const std::vector<double>& c) {
    std::vector<std::int32_t> out(c.size());
    for (std::size_t i = 0; i < c.size(); ++i) out[i] = static_cast<std::int32_t>(c[i] * 4096);
    return out;
}

}  // namespace

bool LinearReducer::Handles(int sw, int sh, int dw, int dh) {
    // Beyond a reduction by 512 the box averages' arithmetic would not
    // hold (see Divide).
    return sw > 0 && sh > 0 && dw > 0 && dh > 0 && dw <= sw && dh <= sh &&
           sw / dw < kMaxReduction && sh / dh < kMaxReduction;
}

LinearReducer::Axis LinearReducer::MakeAxis(int from, int to, int weightScale,
                                            const AxisSampling* at) {
    Axis axis;
    axis.First.resize(static_cast<std::size_t>(to));
    double shrink = at ? std::max(1.0, at->Scale) : 1.0 / (static_cast<double>(to) / from);
    const int size = at ? to : ReducedSize(from, shrink);
    double extra = at ? 0.0 : size * shrink - from;
    // The whole part of a reduction by 4 or more is a box average first,
    // of Box pixels (the last box filled with the edge pixel).
    axis.Box = std::max(
        1,
        static_cast<int>(std::floor(at ? shrink / 2.0 : static_cast<double>(from) / size / 2.0)));
    axis.Boxed = from;
    if (axis.Box > 1) {
        axis.Boxed = static_cast<int>(std::ceil(static_cast<double>(from) / axis.Box));
        shrink /= axis.Box;
        extra /= axis.Box;
    }
    // An axis kept at its size libvips leaves alone, and after a box that
    // was the whole reduction there is nothing left to do either.
    if (!at && shrink == 1.0) {
        axis.Count = 1;
        axis.Weights.assign(static_cast<std::size_t>(to), weightScale);
        for (int i = 0; i < to; ++i) {
            axis.First[static_cast<std::size_t>(i)] = std::min(i, axis.Boxed - 1);
        }
        return axis;
    }
    const int n = 2 * static_cast<int>(std::nearbyint(shrink)) + 1;
    const double offset = (1 + extra) / 2.0 - 1;
    const int pad = static_cast<int>(std::ceil(n / 2.0)) - 1;  // edge pixels added before 0
    std::vector<std::vector<std::int32_t>> masks;
    for (int t = 0; t <= kPositions; ++t) {
        const std::vector<double> c = Triangle(shrink, static_cast<float>(t) / kPositions);
        masks.push_back(weightScale == 64 ? Sixty4ths(c) : Fourths4096(c));
    }
    axis.Count = n;
    axis.Weights.resize(static_cast<std::size_t>(to) * n);
    // Where each output pixel samples, as a mask's position: the mask at p
    // is centred on boxed pixel p - 0.5. Across, libvips steps the position
    // along the row from its start; down, it starts afresh at each strip,
    // which the position from the top matches. Given outright, the centre
    // is moved onto the boxed grid (box j's centre is source pixel j * Box +
    // (Box - 1) / 2).
    std::vector<double> positions(static_cast<std::size_t>(size));
    double stepped = 0.5 * shrink - 0.5 - offset;
    for (int i = 0; i < size; ++i, stepped += shrink) {
        positions[static_cast<std::size_t>(i)] =
            at ? (at->Scale * i + at->Offset - (axis.Box - 1) / 2.0) / axis.Box + 0.5
            : weightScale == 64 ? (i + 0.5) * shrink - 0.5 - offset
                                : stepped;
    }
    for (int i = 0; i < to; ++i) {
        // Past libvips' own size the last pixel repeats.
        const double p = positions[static_cast<std::size_t>(std::min(i, size - 1))];
        const double whole = std::floor(p);
        const int sub = static_cast<int>((p - whole) * kPositions * 2);
        const std::vector<std::int32_t>& mask = masks[static_cast<std::size_t>((sub + 1) >> 1)];
        // Taps wholly beyond an edge all read the edge pixel.
        axis.First[static_cast<std::size_t>(i)] =
            std::clamp(static_cast<int>(whole) - pad, -n, axis.Boxed);
        std::copy(mask.begin(), mask.end(),
                  axis.Weights.begin() + static_cast<std::ptrdiff_t>(i) * n);
    }
    return axis;
}

LinearReducer::LinearReducer(int sw, int sh, int dw, int dh)
    : LinearReducer(3, sw, sh, dw, dh, nullptr, nullptr) {}

LinearReducer::LinearReducer(int channels, int sw, int sh, int dw, int dh, AxisSampling across,
                             AxisSampling down)
    : LinearReducer(channels, sw, sh, dw, dh, &across, &down) {}

LinearReducer::LinearReducer(int channels, int sw, int sh, int dw, int dh,
                             const AxisSampling* across, const AxisSampling* down)
    : channels_(channels),
      dw_(dw),
      dh_(dh),
      down_(MakeAxis(sh, dh, 64, down)),
      across_(MakeAxis(sw, dw, 4096, across)),
      sourceRows_(sh),
      held_(static_cast<std::size_t>(down_.Count),
            std::vector<unsigned char>(static_cast<std::size_t>(sw) * channels)),
      boxSums_(static_cast<std::size_t>(sw) * channels),
      column_(static_cast<std::size_t>(sw) * channels),
      wide_(static_cast<std::size_t>(across_.Boxed + 2 * across_.Count)),
      sums_(static_cast<std::size_t>(sw) * channels),
      out_(static_cast<std::size_t>(dw) * channels) {}

namespace {

// x / d rounded down, for x below 2^20 and d below 2^10, as one multiply
// that the compiler can vectorise: with m = ceil(2^32 / d), x * m / 2^32
// overshoots x / d by less than 1 / d, so its whole part is the same.
std::uint64_t Reciprocal(int d) {
    return ((std::uint64_t{1} << 32) + static_cast<std::uint64_t>(d) - 1) /
           static_cast<std::uint64_t>(d);
}
std::uint32_t Divide(std::uint32_t x, std::uint64_t reciprocal) {
    return static_cast<std::uint32_t>((x * reciprocal) >> 32);
}

}  // namespace

TALLOWIN_VECTOR_CLONES
void LinearReducer::AddToBox(const unsigned char* row, bool first, int copies) {
    const std::size_t n = boxSums_.size();
    std::uint32_t* sums = boxSums_.data();
    const auto times = static_cast<std::uint32_t>(copies);
    if (first) {
        for (std::size_t i = 0; i < n; ++i) sums[i] = row[i] * times;
    } else {
        for (std::size_t i = 0; i < n; ++i) sums[i] += row[i] * times;
    }
}

// libvips' box average: the sum plus half the box, divided by the box.
TALLOWIN_VECTOR_CLONES
void LinearReducer::AverageBox(unsigned char* to) const {
    const std::size_t n = boxSums_.size();
    const std::uint32_t* sums = boxSums_.data();
    const auto half = static_cast<std::uint32_t>(down_.Box / 2);
    const std::uint64_t reciprocal = Reciprocal(down_.Box);
    for (std::size_t i = 0; i < n; ++i) {
        to[i] = static_cast<unsigned char>(Divide(sums[i] + half, reciprocal));
    }
}

// Sums of 64ths of 8-bit values, with the rounding half, stay below 2^14:
// 16-bit lanes, sixteen to an AVX2 register.
TALLOWIN_VECTOR_CLONES
void LinearReducer::ReduceDown(int y) {
    const int count = down_.Count;
    const int first = down_.First[static_cast<std::size_t>(y)];
    const std::int32_t* weights = &down_.Weights[static_cast<std::size_t>(y) * count];
    const std::size_t n = sums_.size();
    std::uint16_t* sums = sums_.data();
    for (std::size_t i = 0; i < n; ++i) sums[i] = 32;
    for (int k = 0; k < count; ++k) {
        const int row = std::clamp(first + k, 0, down_.Boxed - 1);
        const unsigned char* in = held_[static_cast<std::size_t>(row % count)].data();
        const auto w = static_cast<std::uint16_t>(weights[k]);
        for (std::size_t i = 0; i < n; ++i)
            sums[i] = static_cast<std::uint16_t>(sums[i] + in[i] * w);
    }
    unsigned char* out = column_.data();
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<unsigned char>(std::min(sums[i] >> 6, 255));
    }
}

// Across, each pixel is spread into one 64-bit word in 21-bit lanes, so one
// multiply-add weighs all three channels: 4096ths of 8-bit values sum below
// 2^20. The row is widened with its edge pixels repeated Count times on
// each side, so that no tap needs a bound.
void LinearReducer::ReduceAcross() {
    if (channels_ == 1) {
        ReducePlaneAcross();
        return;
    }
    const int count = across_.Count;
    const int boxed = across_.Boxed;
    const int box = across_.Box;
    const int width = static_cast<int>(column_.size() / 3);
    const std::uint64_t reciprocal = Reciprocal(box);
    std::uint64_t* wide = wide_.data() + count;
    for (int x = 0; x < boxed; ++x) {
        std::uint32_t v[3];
        if (box == 1) {
            const unsigned char* px = &column_[static_cast<std::size_t>(x) * 3];
            v[0] = px[0], v[1] = px[1], v[2] = px[2];
        } else {
            // A box of pixels averaged first, the last filled with the edge.
            std::uint32_t sum[3] = {0, 0, 0};
            for (int k = 0; k < box; ++k) {
                const unsigned char* px =
                    &column_[static_cast<std::size_t>(std::min(x * box + k, width - 1)) * 3];
                sum[0] += px[0], sum[1] += px[1], sum[2] += px[2];
            }
            for (int c = 0; c < 3; ++c) v[c] = Divide(sum[c] + box / 2, reciprocal);
        }
        wide[x] = std::uint64_t{v[0]} | (std::uint64_t{v[1]} << 21) | (std::uint64_t{v[2]} << 42);
    }
    for (int k = 1; k <= count; ++k) {
        wide[-k] = wide[0];
        wide[boxed - 1 + k] = wide[boxed - 1];
    }
    constexpr std::uint64_t kLane = (std::uint64_t{1} << 21) - 1;
    unsigned char* out = out_.data();
    for (int x = 0; x < dw_; ++x, out += 3) {
        const std::uint64_t* src = wide + across_.First[static_cast<std::size_t>(x)];
        const std::int32_t* weights = &across_.Weights[static_cast<std::size_t>(x) * count];
        std::uint64_t v = 0;
        for (int k = 0; k < count; ++k) v += src[k] * static_cast<std::uint64_t>(weights[k]);
        for (int c = 0; c < 3; ++c) {
            out[c] = static_cast<unsigned char>(
                std::min<std::uint64_t>((((v >> (21 * c)) & kLane) + 2048) >> 12, 255));
        }
    }
}

namespace {

// Output sample x weighs count samples of wide from first[x]; N is count
// known at compile time, so that the taps unroll (0: any count).
template <int N>
void WeighTaps(const std::int32_t* wide, const std::vector<int>& first,
               const std::vector<std::int32_t>& weights, int count, unsigned char* out, int dw) {
    const int n = N > 0 ? N : count;
    const std::int32_t* w = weights.data();
    for (int x = 0; x < dw; ++x, w += n) {
        const std::int32_t* src = wide + first[static_cast<std::size_t>(x)];
        std::int32_t v = 2048;
        for (int k = 0; k < n; ++k) v += src[k] * w[k];
        out[x] = static_cast<unsigned char>(std::min(v >> 12, 255));
    }
}

}  // namespace

// One channel: the row boxed into 32-bit words, widened with its edges as
// above, and the taps weighed straight from them.
void LinearReducer::ReducePlaneAcross() {
    const int count = across_.Count;
    const int boxed = across_.Boxed;
    const int box = across_.Box;
    const int width = static_cast<int>(column_.size());
    const std::uint64_t reciprocal = Reciprocal(box);
    plane_.resize(static_cast<std::size_t>(boxed + 2 * count));
    std::int32_t* wide = plane_.data() + count;
    const unsigned char* in = column_.data();
    if (box == 1) {
        for (int x = 0; x < boxed; ++x) wide[x] = in[x];
    } else {
        for (int x = 0; x < boxed; ++x) {
            std::uint32_t sum = 0;
            for (int k = 0; k < box; ++k) sum += in[std::min(x * box + k, width - 1)];
            wide[x] = static_cast<std::int32_t>(
                Divide(sum + static_cast<std::uint32_t>(box / 2), reciprocal));
        }
    }
    for (int k = 1; k <= count; ++k) {
        wide[-k] = wide[0];
        wide[boxed - 1 + k] = wide[boxed - 1];
    }
    unsigned char* out = out_.data();
    switch (count) {
        case 3:
            return WeighTaps<3>(wide, across_.First, across_.Weights, count, out, dw_);
        case 5:
            return WeighTaps<5>(wide, across_.First, across_.Weights, count, out, dw_);
        case 7:
            return WeighTaps<7>(wide, across_.First, across_.Weights, count, out, dw_);
        case 9:
            return WeighTaps<9>(wide, across_.First, across_.Weights, count, out, dw_);
        default:
            return WeighTaps<0>(wide, across_.First, across_.Weights, count, out, dw_);
    }
}

bool LinearReducer::Push(int y, const unsigned char* row, const RowSink& emit) {
    const int count = down_.Count;
    const int box = down_.Box;
    int boxed = y;  // the boxed row this source row completes, if any
    if (box > 1) {
        // Sum the box's rows; the last box of a height that does not
        // divide is filled with copies of the last row.
        const int inBox = y % box + 1;
        const int copies = (y == sourceRows_ - 1) ? box - inBox + 1 : 1;
        AddToBox(row, inBox == 1, copies);
        if (inBox + copies - 1 < box) return true;
        boxed = y / box;
        AverageBox(held_[static_cast<std::size_t>(boxed % count)].data());
    } else {
        std::copy(row, row + column_.size(), held_[static_cast<std::size_t>(y % count)].begin());
    }
    // Output row Y needs boxed rows First .. First + Count - 1, the edge
    // rows standing in beyond the image.
    while (next_ < dh_ && std::min(down_.First[static_cast<std::size_t>(next_)] + count - 1,
                                   down_.Boxed - 1) <= boxed) {
        ReduceDown(next_);
        ReduceAcross();
        if (!emit(out_.data())) return false;
        ++next_;
    }
    return true;
}

}  // namespace tallowin
