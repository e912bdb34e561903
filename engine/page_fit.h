// The fit of an image onto the printable area: pure arithmetic.
#pragma once

namespace tallowin {

struct FitInput {
    int W = 0, H = 0;    // image size in pixels
    int Dx = 0, Dy = 0;  // image resolution in dots per inch; 0 in either means 72 x 72
    int Rx = 0, Ry = 0;  // printer resolution in dots per inch
    int Pw = 0, Ph = 0;  // printable area in printer pixels
};

struct FitResult {
    float f = 1;         // the one factor applied in both directions, never above 1
    int Tw = 0, Th = 0;  // size on paper in printer pixels
};

// The image keeps its own resolution on paper (W x Rx / Dx printer pixels
// wide) unless that does not fit the printable area; then it is scaled down
// by the smaller of the two factors so that its proportions stay. It is
// never enlarged. The resolutions and the factor are single precision, the
// rest double; a half pixel rounds up.
FitResult FitToPage(const FitInput& in);

}  // namespace tallowin
