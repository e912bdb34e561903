#include "platform/bilinear_enlarger.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

BilinearEnlarger::BilinearEnlarger(int sw, int sh, int dw, int dh)
    : dw_(dw), dh_(dh), columns_(Taps(sw, dw)), rows_(Taps(sh, dh)) {
    // One spare element: ScaleRow stores four lanes for the last pixel.
    scaled_[0].resize(static_cast<std::size_t>(dw_) * 3 + 1);
    scaled_[1].resize(static_cast<std::size_t>(dw_) * 3 + 1);
    wide_.resize(static_cast<std::size_t>(sw) + 1);
    out_.resize(static_cast<std::size_t>(dw_) * 3);
}

std::vector<BilinearEnlarger::Tap> BilinearEnlarger::Taps(int from, int to) {
    std::vector<Tap> taps(static_cast<std::size_t>(to));
    const double step = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        const double at = std::clamp(i * step - 0.5, 0.0, static_cast<double>(from - 1));
        int index = static_cast<int>(std::floor(at));
        auto frac = static_cast<std::uint32_t>(std::lround((at - index) * 256.0));
        if (frac == 256) {
            ++index;
            frac = 0;
        }
        // At the last pixel the second tap would fall outside: weight 0 on
        // the pixel itself reads the same value.
        if (index >= from - 1) {
            index = from - 1;
            frac = 0;
        }
        taps[static_cast<std::size_t>(i)] = {index, frac};
    }
    return taps;
}

// The two passes are the resampler's whole cost; where the processor has
// AVX2 the compiler's vectorised copy of each runs instead of the SSE2 one.
#if defined(__x86_64__) && defined(__GNUC__)
#define TALLOWIN_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TALLOWIN_VECTOR_CLONES
#endif

// Each source pixel is spread into one 64-bit word, R, G, B in 16-bit
// lanes, so one multiply-add weighs all three channels: 255 * 256 fits a
// lane, nothing carries into the next.
void BilinearEnlarger::ScaleRow(const unsigned char* in, std::uint16_t* out) {
    const std::size_t sw = wide_.size() - 1;
    for (std::size_t i = 0; i < sw; ++i, in += 3) {
        wide_[i] =
            std::uint64_t{in[0]} | (std::uint64_t{in[1]} << 16) | (std::uint64_t{in[2]} << 32);
    }
    wide_[sw] = wide_[sw - 1];  // the last column's right neighbour is itself
    for (int x = 0; x < dw_; ++x) {
        const Tap t = columns_[static_cast<std::size_t>(x)];
        const std::uint64_t a = wide_[static_cast<std::size_t>(t.Index)];
        const std::uint64_t b = wide_[static_cast<std::size_t>(t.Index) + 1];
        const std::uint64_t v = a * (256 - t.Frac) + b * t.Frac;
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

TALLOWIN_VECTOR_CLONES
void BilinearEnlarger::BlendRows(const std::uint16_t* a, const std::uint16_t* b,
                                 std::uint32_t frac) {
    const std::uint32_t wa = 256 - frac, wb = frac;
    const std::size_t n = out_.size();  // the spare lanes are not blended
    unsigned char* out = out_.data();
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<unsigned char>((a[i] * wa + b[i] * wb + 32768) >> 16);
    }
}

bool BilinearEnlarger::Push(int y, const unsigned char* row, const RowSink& emit) {
    ScaleRow(row, scaled_[y & 1].data());
    // Output row Y needs source rows Index and, when Frac > 0, Index + 1;
    // both are among the last two pushed once the later one has come.
    while (next_ < dh_) {
        const Tap t = rows_[static_cast<std::size_t>(next_)];
        const int last = t.Index + (t.Frac ? 1 : 0);
        if (last > y) break;
        const std::uint16_t* a = scaled_[t.Index & 1].data();
        const std::uint16_t* b = t.Frac ? scaled_[(t.Index + 1) & 1].data() : a;
        BlendRows(a, b, t.Frac);
        if (!emit(out_.data())) return false;
        ++next_;
    }
    return true;
}
