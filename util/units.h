// Lengths as the print system gives them (hundredths of a millimetre, as in
// PWG media sizes and margins) and as a page needs them (PostScript points
// for the PDF, whole pixels at the printer's resolution). One inch is 2540
// hundredths of a millimetre and 72 points.
#pragma once

#include <cstdint>

namespace tallowin {

inline constexpr double kHundredthsMmPerInch = 2540.0;
inline constexpr double kPointsPerInch = 72.0;

// Computed as one factor, so that every length converts with the same
// rounding.
constexpr double HundredthsMmToPoints(double hundredthsMm) {
    return hundredthsMm * (kPointsPerInch / kHundredthsMmPerInch);
}

constexpr double PointsToHundredthsMm(double points) {
    return points * kHundredthsMmPerInch / kPointsPerInch;
}

// The whole pixels that fit into the length at dpi, rounded down, so that a
// page never runs past the printable area. In integers, exact for any sheet:
// lengths and resolutions are far below the range where the product wraps.
constexpr int HundredthsMmToPixels(std::int64_t hundredthsMm, int dpi) {
    return static_cast<int>(hundredthsMm * dpi / static_cast<std::int64_t>(kHundredthsMmPerInch));
}

}  // namespace tallowin
