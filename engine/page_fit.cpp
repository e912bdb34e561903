#include "engine/page_fit.h"

#include <cmath>

namespace tallowin {

FitResult FitToPage(const FitInput& in) {
    float dx = static_cast<float>(in.Dx);
    float dy = static_cast<float>(in.Dy);
    if (in.Dx == 0 || in.Dy == 0) dx = dy = 72.0f;
    const float rx = static_cast<float>(in.Rx);
    const float ry = static_cast<float>(in.Ry);

    const double nw = in.W * static_cast<double>(rx) / dx;
    const double nh = in.H * static_cast<double>(ry) / dy;
    const double sx = in.Pw / nw;
    const double sy = in.Ph / nh;

    FitResult out;
    if (sx >= 1 && sy >= 1) {
        out.f = 1.0f;
    } else {
        out.f = static_cast<float>(sx >= sy ? sy : sx);
    }
    out.Tw = static_cast<int>(std::floor(nw * out.f + 0.5));
    out.Th = static_cast<int>(std::floor(nh * out.f + 0.5));
    return out;
}

}  // namespace tallowin
