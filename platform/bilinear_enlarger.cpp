#include "platform/bilinear_enlarger.h"

#include <algorithm>
#include <cmath>

BilinearEnlarger::BilinearEnlarger(int sw, int sh, int dw, int dh)
    : dw_(dw), dh_(dh), columns_(Taps(sw, dw)), rows_(Taps(sh, dh)) {
    scaled_[0].resize(static_cast<std::size_t>(dw_) * 3);
    scaled_[1].resize(static_cast<std::size_t>(dw_) * 3);
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

void BilinearEnlarger::ScaleRow(const unsigned char* in, std::uint16_t* out) const {
    for (int x = 0; x < dw_; ++x) {
        const Tap t = columns_[static_cast<std::size_t>(x)];
        const unsigned char* a = in + static_cast<std::size_t>(t.Index) * 3;
        // With frac 0 at the last column, b reads a's own pixel again.
        const unsigned char* b = t.Frac ? a + 3 : a;
        const std::uint32_t wa = 256 - t.Frac, wb = t.Frac;
        out[0] = static_cast<std::uint16_t>(a[0] * wa + b[0] * wb);
        out[1] = static_cast<std::uint16_t>(a[1] * wa + b[1] * wb);
        out[2] = static_cast<std::uint16_t>(a[2] * wa + b[2] * wb);
        out += 3;
    }
}

void BilinearEnlarger::BlendRows(const std::uint16_t* a, const std::uint16_t* b,
                                 std::uint32_t frac) {
    const std::uint32_t wa = 256 - frac, wb = frac;
    const std::size_t n = out_.size();
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
