#include "page/pdf/pdf_placement.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tallowin {

namespace {

constexpr double kPointsPerInch = 72.0;

// A length in points as whole points: a page counts as a picture of 72
// dots per inch whose dots are points. Capped so that the fit's int
// arithmetic cannot overflow (a page that large shrinks anyway); 0 when it
// is no usable length.
int WholePoints(double points) {
    const double whole = std::round(points);
    if (!(whole > 0)) return 0;
    return static_cast<int>(std::min(whole, 1e9));
}

}  // namespace

PdfBox Normalized(const PdfBox& b) {
    return {std::min(b.X0, b.X1), std::min(b.Y0, b.Y1), std::max(b.X0, b.X1), std::max(b.Y0, b.Y1)};
}

PdfBox Intersection(const PdfBox& a, const PdfBox& b) {
    PdfBox r{std::max(a.X0, b.X0), std::max(a.Y0, b.Y0), std::min(a.X1, b.X1),
             std::min(a.Y1, b.Y1)};
    if (r.X1 < r.X0) r.X1 = r.X0;
    if (r.Y1 < r.Y0) r.Y1 = r.Y0;
    return r;
}

double PdfPageView::WidthPt() const {
    return (Rotate % 180 == 0 ? Box.Width() : Box.Height()) * UserUnit;
}

double PdfPageView::HeightPt() const {
    return (Rotate % 180 == 0 ? Box.Height() : Box.Width()) * UserUnit;
}

int ViewerRotation(long long rotate) {
    if (rotate % 90 != 0) return 0;
    return static_cast<int>(((rotate % 360) + 360) % 360);
}

FitInput PdfPageFitInput(const PdfPageView& page, const PageGeometry& g) {
    return {
        WholePoints(page.WidthPt()), WholePoints(page.HeightPt()), 72, 72, g.Rx, g.Ry, g.Pw, g.Ph};
}

FitResult FitPdfPage(const PdfPageView& page, const PageGeometry& g) {
    const FitInput in = PdfPageFitInput(page, g);
    if (in.W <= 0 || in.H <= 0 || g.Rx <= 0 || g.Ry <= 0) return {1, 0, 0};
    return FitToPage(in);
}

PdfMatrix PlacePdfPage(const PdfPageView& page, const PageGeometry& g, const FitResult& fit) {
    Placement placed;
    placed.ScaledW = placed.Tw = fit.Tw;
    placed.ScaledH = placed.Th = fit.Th;
    placed.Kept = {0, 0, fit.Tw, fit.Th};
    return PlacePdfPage(page, g, placed);
}

Placement PlacePdfPageAs(const PdfPageView& page, const PageGeometry& g,
                         const PlacementMode& mode) {
    const FitInput in = PdfPageFitInput(page, g);
    if (in.W <= 0 || in.H <= 0 || g.Rx <= 0 || g.Ry <= 0) return {};
    return PlacePicture({in, mode.Scale, mode.Place, mode.Turn});
}

PdfMatrix PlacePdfPage(const PdfPageView& page, const PageGeometry& g, const Placement& placed) {
    const PdfBox& b = page.Box;
    const double w = b.Width();
    const double h = b.Height();
    // The visible box moved to the origin and turned clockwise as a viewer
    // turns it: the result covers [0, shownW] x [0, shownH].
    PdfMatrix turn;
    switch (page.Rotate) {
        case 90:
            turn = {0, -1, 1, 0, 0, w};
            break;
        case 180:
            turn = {-1, 0, 0, -1, w, h};
            break;
        case 270:
            turn = {0, 1, -1, 0, h, 0};
            break;
        default:
            break;
    }
    double shownW = page.Rotate % 180 == 0 ? w : h;
    double shownH = page.Rotate % 180 == 0 ? h : w;
    if (placed.Turned) {
        // Then a quarter counter-clockwise: (x, y) to (shownH - y, x), so
        // that the shown top-left corner goes to the bottom-left.
        turn = {-turn.B, turn.A, -turn.D, turn.C, shownH - turn.F, turn.E};
        std::swap(shownW, shownH);
    }
    // Then scaled to exactly ScaledW x ScaledH printer pixels, in points.
    const double targetW = placed.ScaledW * kPointsPerInch / g.Rx;
    const double targetH = placed.ScaledH * kPointsPerInch / g.Ry;
    const double sx = shownW > 0 ? targetW / shownW : 0;
    const double sy = shownH > 0 ? targetH / shownH : 0;
    // And its Kept part's top-left corner at (X, Y) in the printable area.
    const double left = g.LeftPt + (placed.X - placed.Kept.X) * kPointsPerInch / g.Rx;
    const double bottom =
        g.MediaHeightPt - g.TopPt - (placed.Y - placed.Kept.Y) * kPointsPerInch / g.Ry - targetH;
    // turn first, taking (x0, y0) to the origin: x' = turn(x - x0, y - y0).
    const double e = turn.E - turn.A * b.X0 - turn.C * b.Y0;
    const double f = turn.F - turn.B * b.X0 - turn.D * b.Y0;
    return {turn.A * sx, turn.B * sy, turn.C * sx, turn.D * sy, e * sx + left, f * sy + bottom};
}

PdfBox PrintableArea(const PageGeometry& g) {
    const double w = g.Rx > 0 ? g.Pw * kPointsPerInch / g.Rx : 0;
    const double h = g.Ry > 0 ? g.Ph * kPointsPerInch / g.Ry : 0;
    const double top = g.MediaHeightPt - g.TopPt;
    return {g.LeftPt, top - h, g.LeftPt + w, top};
}

}  // namespace tallowin
