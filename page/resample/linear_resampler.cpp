#include "page/resample/linear_resampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "page/resample/vector_clones.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tallowin {

bool LinearResampler::Handles(int sw, int sh, int dw, int dh) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return false;
    // Growing in both directions (or keeping one): vips_resize's affine.
    if (dw >= sw && dh >= sh) return true;
    // Shrinking in both (or keeping one), by factors below 2: its reduce.
    // Growing one way while shrinking the other it does both in turn.
    return dw <= sw && dh <= sh && sw < 2 * dw && sh < 2 * dh;
}

namespace {

// Where vips_resize's linear kernel samples an axis of from pixels made to
// : enlarging, at x * from / to - 0.5 (or seen from the far end when
// mirrored); reducing, centred.
AxisSampling VipsSampling(int from, int to, bool enlarging, bool mirrored) {
    const double scale = static_cast<double>(from) / to;
    if (!enlarging) return {scale, 0.5 * scale - 0.5};
    // Seen from the far end, output pixel i of a flipped axis sampled from -
    // 1 - ((to - 1 - i) * s - 0.5), which is i * s - 0.5 + s.
    return {scale, mirrored ? scale - 0.5 : -0.5};
}

}  // namespace

LinearResampler::LinearResampler(int sw, int sh, int dw, int dh, bool mirrorX, bool mirrorY)
    : LinearResampler(3, sw, sh, dw, dh, dw >= sw && dh >= sh,
                      VipsSampling(sw, dw, dw >= sw && dh >= sh, mirrorX),
                      VipsSampling(sh, dh, dw >= sw && dh >= sh, mirrorY)) {}

LinearResampler::LinearResampler(int channels, int sw, int sh, int dw, int dh, bool enlarging,
                                 AxisSampling across, AxisSampling down)
    : channels_(channels),
      dw_(dw),
      dh_(dh),
      columns_(AxisTaps(sw, dw, enlarging, across, 8)),
      rows_(AxisTaps(sh, dh, enlarging, down, 14)) {
    scaled_.resize(static_cast<std::size_t>(rows_.Count));
    // One spare element: ScaleRow stores four lanes for the last pixel.
    for (auto& row : scaled_) row.resize(static_cast<std::size_t>(dw_) * channels_ + 1);
    if (channels_ == 3) wide_.resize(static_cast<std::size_t>(sw));
    if (channels_ == 1 && MakeShuffles()) {
        // ShufflePlaneRow stores whole blocks of 8.
        for (auto& row : scaled_) row.resize(blockFirst_.size() * 8 + 1);
        padded_.resize(static_cast<std::size_t>(sw) + 16);
    }
    out_.resize(static_cast<std::size_t>(dw_) * channels_);
}

namespace {

constexpr int kBlock = 8;

bool HasSsse3() {
#if defined(__x86_64__) && defined(__GNUC__)
    return __builtin_cpu_supports("ssse3");
#else
    return false;
#endif
}

}  // namespace

// A one-channel row resampled across a sample at a time costs as much as an
// RGB row of the same width, where the RGB path weighs three channels with
// one multiply: enlarging or reducing by less than 2, each block of 8
// samples reads a run of at most 16 source bytes, so one byte shuffle
// fetches two taps of 8 samples at once. False where a block reads wider,
// or the processor has no byte shuffle: ScalePlaneRow then.
bool LinearResampler::MakeShuffles() {
    if (!HasSsse3()) return false;
    const int count = columns_.Count;
    const int pairs = (count + 1) / 2;
    const int blocks = (dw_ + kBlock - 1) / kBlock;
    blockFirst_.resize(static_cast<std::size_t>(blocks));
    shuffles_.assign(static_cast<std::size_t>(blocks) * pairs * 16, 0x80);
    pairWeights_.assign(static_cast<std::size_t>(blocks) * pairs * 16, 0);
    for (int b = 0; b < blocks; ++b) {
        const int first = columns_.First[static_cast<std::size_t>(b * kBlock)];
        blockFirst_[static_cast<std::size_t>(b)] = first;
        for (int j = 0; j < kBlock && b * kBlock + j < dw_; ++j) {
            const auto x = static_cast<std::size_t>(b * kBlock + j);
            for (int k = 0; k < count; ++k) {
                const int at = columns_.First[x] + k - first;
                if (at < 0 || at > 15) {
                    blockFirst_.clear();
                    return false;
                }
                const std::size_t slot =
                    (static_cast<std::size_t>(b) * pairs + k / 2) * 16 + (k % 2) * kBlock + j;
                shuffles_[slot] = static_cast<std::uint8_t>(at);
                pairWeights_[slot] = static_cast<std::uint16_t>(columns_.Weights[x * count + k]);
            }
        }
    }
    return true;
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("ssse3")))
#endif
void LinearResampler::ShufflePlaneRow(const unsigned char* in, std::uint16_t* out) {
#if defined(__x86_64__)
    std::memcpy(padded_.data(), in, padded_.size() - 16);
    const int pairs = (columns_.Count + 1) / 2;
    const __m128i zero = _mm_setzero_si128();
    const std::uint8_t* shuffle = shuffles_.data();
    const std::uint16_t* weight = pairWeights_.data();
    for (std::size_t b = 0; b < blockFirst_.size(); ++b, out += kBlock) {
        const __m128i src =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(padded_.data() + blockFirst_[b]));
        __m128i sum = zero;
        // Weights sum to 256: value x 256 fits 16 bits, so 16-bit lanes.
        for (int p = 0; p < pairs; ++p, shuffle += 16, weight += 16) {
            const __m128i taps =
                _mm_shuffle_epi8(src, _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle)));
            const __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight));
            const __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weight + kBlock));
            sum = _mm_add_epi16(sum, _mm_mullo_epi16(_mm_unpacklo_epi8(taps, zero), w0));
            sum = _mm_add_epi16(sum, _mm_mullo_epi16(_mm_unpackhi_epi8(taps, zero), w1));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), sum);
    }
#else
    ScalePlaneRow(in, out);
#endif
}

LinearResampler::Taps LinearResampler::AxisTaps(int from, int to, bool enlarging, AxisSampling at,
                                                int weightBits) {
    // An axis kept at its size follows the other: the affine resampler that
    // enlarges samples it half a pixel off too, while reduce leaves it be.
    const bool reduces = !enlarging;
    // The triangle's half-width in source pixels: 1 when enlarging (plain
    // bilinear), the reduction factor when reducing.
    const double half = reduces ? std::max(1.0, at.Scale) : 1.0;
    Taps taps;
    taps.Count = std::min(from, reduces ? static_cast<int>(std::floor(2 * half)) + 1 : 2);
    taps.First.resize(static_cast<std::size_t>(to));
    taps.Weights.assign(static_cast<std::size_t>(to) * taps.Count, 0);
    const auto unit = static_cast<std::int64_t>(1) << weightBits;
    std::vector<double> w(static_cast<std::size_t>(taps.Count));
    for (int i = 0; i < to; ++i) {
        const double centre = at.Scale * i + at.Offset;
        const int rawFirst = static_cast<int>(std::floor(centre - half)) + 1;
        // Edge pixels repeat: taps outside the image fold onto its edge, and
        // the window moves inside it (Count <= from).
        const int first = std::clamp(rawFirst, 0, from - taps.Count);
        std::fill(w.begin(), w.end(), 0.0);
        double sum = 0;
        for (int j = rawFirst; j < rawFirst + taps.Count + 1; ++j) {
            const double weight = 1.0 - std::abs(j - centre) / half;
            if (weight <= 0) continue;
            const int at = std::clamp(j, 0, from - 1) - first;
            if (at < 0 || at >= taps.Count) continue;  // cannot happen; kept safe
            w[static_cast<std::size_t>(at)] += weight;
            sum += weight;
        }
        // Fixed point summing to exactly unit: the rounding rest goes to the
        // largest weight.
        std::uint32_t* out = &taps.Weights[static_cast<std::size_t>(i) * taps.Count];
        std::int64_t total = 0;
        std::size_t largest = 0;
        for (std::size_t k = 0; k < w.size(); ++k) {
            out[k] = static_cast<std::uint32_t>(std::llround(w[k] / sum * unit));
            total += out[k];
            if (w[k] > w[largest]) largest = k;
        }
        out[largest] = static_cast<std::uint32_t>(out[largest] + (unit - total));
        taps.First[static_cast<std::size_t>(i)] = first;
    }
    return taps;
}

// Each source pixel is spread into one 64-bit word, R, G, B in 16-bit
// lanes, so one multiply-add weighs all three channels: the weights sum to
// 256 and 255 * 256 fits a lane, so nothing carries into the next.
void LinearResampler::ScaleRow(const unsigned char* in, std::uint16_t* out) {
    const std::size_t sw = wide_.size();
    for (std::size_t i = 0; i < sw; ++i, in += 3) {
        wide_[i] =
            std::uint64_t{in[0]} | (std::uint64_t{in[1]} << 16) | (std::uint64_t{in[2]} << 32);
    }
    const int count = columns_.Count;
    const std::uint32_t* weights = columns_.Weights.data();
    for (int x = 0; x < dw_; ++x, weights += count) {
        const std::uint64_t* src = &wide_[static_cast<std::size_t>(columns_.First[x])];
        std::uint64_t v = 0;
        for (int k = 0; k < count; ++k) v += src[k] * weights[k];
        std::uint16_t* px = out + 3 * static_cast<std::size_t>(x);
        if constexpr (std::endian::native == std::endian::little) {
            // Eight bytes written, three kept: the fourth lane is overwritten
            // by the next pixel, or lands in the row's spare element.
            std::memcpy(px, &v, sizeof v);
        } else {
            px[0] = static_cast<std::uint16_t>(v);
            px[1] = static_cast<std::uint16_t>(v >> 16);
            px[2] = static_cast<std::uint16_t>(v >> 32);
        }
    }
}

// One channel: no lanes to spread, each output sample weighs its taps
// straight from the row.
void LinearResampler::ScalePlaneRow(const unsigned char* in, std::uint16_t* out) const {
    const int count = columns_.Count;
    const std::uint32_t* weights = columns_.Weights.data();
    for (int x = 0; x < dw_; ++x, weights += count) {
        const unsigned char* src = in + columns_.First[static_cast<std::size_t>(x)];
        std::uint32_t v = 0;
        for (int k = 0; k < count; ++k) v += src[k] * weights[k];
        out[x] = static_cast<std::uint16_t>(v);
    }
}

TALLOWIN_VECTOR_CLONES
void LinearResampler::BlendRows(int y) {
    const int count = rows_.Count;
    const int first = rows_.First[static_cast<std::size_t>(y)];
    const std::uint32_t* weights = &rows_.Weights[static_cast<std::size_t>(y) * count];
    const std::size_t n = out_.size();  // the spare lanes are not blended
    unsigned char* out = out_.data();
    // value x 256 times weights summing to 2^14: below 2^30, in 32 bits.
    const std::uint16_t* r0 = scaled_[static_cast<std::size_t>(first % count)].data();
    if (count == 2) {
        const std::uint16_t* r1 = scaled_[static_cast<std::size_t>((first + 1) % count)].data();
        const std::uint32_t w0 = weights[0], w1 = weights[1];
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = static_cast<unsigned char>((r0[i] * w0 + r1[i] * w1 + (1u << 21)) >> 22);
        }
        return;
    }
    std::vector<std::uint32_t>& acc = accumulator_;
    acc.assign(n, 1u << 21);
    for (int k = 0; k < count; ++k) {
        const std::uint16_t* r = scaled_[static_cast<std::size_t>((first + k) % count)].data();
        const std::uint32_t w = weights[k];
        for (std::size_t i = 0; i < n; ++i) acc[i] += r[i] * w;
    }
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(acc[i] >> 22);
}

bool LinearResampler::Push(int y, const unsigned char* row, const RowSink& emit) {
    const int count = rows_.Count;
    std::uint16_t* scaled = scaled_[static_cast<std::size_t>(y % count)].data();
    if (channels_ == 3) {
        ScaleRow(row, scaled);
    } else if (!blockFirst_.empty()) {
        ShufflePlaneRow(row, scaled);
    } else {
        ScalePlaneRow(row, scaled);
    }
    // Output row Y needs source rows First .. First + Count - 1; they are the
    // last Count pushed once the last of them has come.
    while (next_ < dh_ && rows_.First[static_cast<std::size_t>(next_)] + count - 1 <= y) {
        BlendRows(next_);
        if (!emit(out_.data())) return false;
        ++next_;
    }
    return true;
}

}  // namespace tallowin
