#include "engine/placement.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace tallowin {

namespace {

// Past this a size means nothing on paper; held there, every sum of two
// sizes still fits an int.
constexpr double kMostPixels = 1 << 30;

int Round(double v) {
    return static_cast<int>(std::min(std::floor(v + 0.5), kMostPixels));
}

enum class Anchor { Start, Middle, End };

Anchor Horizontal(Position p) {
    switch (p) {
        case Position::TopLeft:
        case Position::Left:
        case Position::BottomLeft:
            return Anchor::Start;
        case Position::Top:
        case Position::Center:
        case Position::Bottom:
            return Anchor::Middle;
        default:
            return Anchor::End;
    }
}

Anchor Vertical(Position p) {
    switch (p) {
        case Position::TopLeft:
        case Position::Top:
        case Position::TopRight:
            return Anchor::Start;
        case Position::Left:
        case Position::Center:
        case Position::Right:
            return Anchor::Middle;
        default:
            return Anchor::End;
    }
}

// One axis: a length of scaled pixels set into area pixels at anchor.
struct Axis {
    int Offset = 0;     // in the area
    int KeptStart = 0;  // in the scaled picture
    int KeptLength = 0;
};

// The odd pixel of an even split goes to the end side, whether it is room
// left over or picture cut off.
Axis Set(int area, int scaled, Anchor anchor) {
    const int slack = area - scaled;
    const int share = anchor == Anchor::Start    ? 0
                      : anchor == Anchor::Middle ? std::abs(slack) / 2
                                                 : std::abs(slack);
    if (slack >= 0) return {share, 0, scaled};
    return {0, share, area};
}

// The picture as it lies on paper, turned or not.
struct Oriented {
    FitInput Fit;
    double Nw = 0, Nh = 0;  // its own size in printer pixels
};

Oriented Orient(const FitInput& in, bool turned) {
    Oriented o{in};
    if (turned) {
        std::swap(o.Fit.W, o.Fit.H);
        std::swap(o.Fit.Dx, o.Fit.Dy);
    }
    // Single-precision resolutions, as FitToPage has them.
    float dx = static_cast<float>(o.Fit.Dx);
    float dy = static_cast<float>(o.Fit.Dy);
    if (o.Fit.Dx == 0 || o.Fit.Dy == 0) dx = dy = 72.0f;
    o.Nw = o.Fit.W * static_cast<double>(static_cast<float>(o.Fit.Rx)) / dx;
    o.Nh = o.Fit.H * static_cast<double>(static_cast<float>(o.Fit.Ry)) / dy;
    return o;
}

Placement Place(const PlacementInput& in, bool turned) {
    const Oriented o = Orient(in.Fit, turned);
    const int pw = o.Fit.Pw, ph = o.Fit.Ph;
    Placement p;
    p.Turned = turned;
    switch (in.Scale) {
        case Scaling::AutoFit: {
            const FitResult fit = FitToPage(o.Fit);
            p.ScaledW = fit.Tw;
            p.ScaledH = fit.Th;
            break;
        }
        case Scaling::Fit:
            // The side whose factor is the smaller one fills the area exactly.
            if (pw * o.Nh <= ph * o.Nw) {
                p.ScaledW = pw;
                p.ScaledH = std::clamp(Round(o.Nh * pw / o.Nw), 1, ph);
            } else {
                p.ScaledH = ph;
                p.ScaledW = std::clamp(Round(o.Nw * ph / o.Nh), 1, pw);
            }
            break;
        case Scaling::Fill:
            if (pw * o.Nh >= ph * o.Nw) {
                p.ScaledW = pw;
                p.ScaledH = std::max(ph, Round(o.Nh * pw / o.Nw));
            } else {
                p.ScaledH = ph;
                p.ScaledW = std::max(pw, Round(o.Nw * ph / o.Nh));
            }
            break;
        case Scaling::None:
            p.ScaledW = std::max(1, Round(o.Nw));
            p.ScaledH = std::max(1, Round(o.Nh));
            break;
    }
    const Position at = in.Scale == Scaling::Fill ? Position::Center : in.Place;
    const Axis x = Set(pw, p.ScaledW, Horizontal(at));
    const Axis y = Set(ph, p.ScaledH, Vertical(at));
    p.Tw = x.KeptLength;
    p.Th = y.KeptLength;
    p.X = x.Offset;
    p.Y = y.Offset;
    p.Kept = {x.KeptStart, y.KeptStart, p.Tw, p.Th};
    if (p.ScaledW > 0 && p.ScaledH > 0) {
        const double sx = static_cast<double>(o.Fit.W) / p.ScaledW;
        const double sy = static_cast<double>(o.Fit.H) / p.ScaledH;
        p.Source = {p.Kept.X * sx, p.Kept.Y * sy, p.Kept.W * sx, p.Kept.H * sy};
    }
    return p;
}

std::int64_t Pixels(int w, int h) {
    return static_cast<std::int64_t>(w) * h;
}

}  // namespace

Placement PlacePicture(const PlacementInput& in) {
    const FitInput& f = in.Fit;
    if (f.W < 1 || f.H < 1 || f.Pw < 1 || f.Ph < 1 || f.Rx < 1 || f.Ry < 1 || f.Dx < 0 ||
        f.Dy < 0) {
        return {};
    }
    const Placement upright = Place(in, false);
    if (in.Turn == Rotation::No) return upright;
    const Placement turned = Place(in, true);
    const bool better =
        in.Scale == Scaling::Fill
            ? Pixels(turned.ScaledW, turned.ScaledH) < Pixels(upright.ScaledW, upright.ScaledH)
            : Pixels(turned.Tw, turned.Th) > Pixels(upright.Tw, upright.Th);
    return better ? turned : upright;
}

}  // namespace tallowin
