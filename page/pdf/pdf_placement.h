// Where a document's page lands on the printer's sheet: pure arithmetic, no
// PDF library. A page is sized and placed like a picture: as a viewer shows
// it, fitted to the printable area by FitToPage, at the area's top-left.
#pragma once

#include "engine/page_fit.h"
#include "engine/placement.h"
#include "engine/ports/page.h"

namespace tallowin {

// A rectangle in a page's own user space (points unless UserUnit says
// otherwise), lower-left to upper-right.
struct PdfBox {
    double X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;

    double Width() const { return X1 - X0; }
    double Height() const { return Y1 - Y0; }
};

// The corners in order whatever order the file gave them in.
PdfBox Normalized(const PdfBox& b);
// The part two boxes share; empty (zero width or height) when they do not
// overlap.
PdfBox Intersection(const PdfBox& a, const PdfBox& b);

// A page as a viewer shows it: the visible box (the crop box within the
// media box), turned clockwise by Rotate degrees, UserUnit points a unit.
struct PdfPageView {
    PdfBox Box;           // normalized
    int Rotate = 0;       // 0, 90, 180 or 270
    double UserUnit = 1;  // points per unit, positive

    // The page's size as shown, in points.
    double WidthPt() const;
    double HeightPt() const;
};

// The Rotate a viewer applies for a page's /Rotate value: the nearest turn
// of a quarter, clockwise, in 0..270; a value that is no multiple of 90
// counts as 0.
int ViewerRotation(long long rotate);

// A PDF transformation [a b c d e f]: x' = a x + c y + e, y' = b x + d y + f.
struct PdfMatrix {
    double A = 1, B = 0, C = 0, D = 1, E = 0, F = 0;
};

// A page as FitToPage takes it: a picture of 72 dots per inch whose dots
// are the page's whole points as shown, so that pages and pictures share one
// rule (their own size unless that does not fit, then shrunk preserving
// their proportions, never enlarged).
FitInput PdfPageFitInput(const PdfPageView& page, const PageGeometry& g);
// FitToPage of PdfPageFitInput; Tw or Th is 0 when the page would be less
// than a dot wide (or has no size).
FitResult FitPdfPage(const PdfPageView& page, const PageGeometry& g);

// The matrix that draws the page's visible box, turned as a viewer turns it,
// exactly fit.Tw x fit.Th printer pixels large with its top-left corner at
// the printable area's top-left corner, in the sheet's PDF coordinates
// (origin at the sheet's lower-left).
PdfMatrix PlacePdfPage(const PdfPageView& page, const PageGeometry& g, const FitResult& fit);

// PlacePicture of the page (as PdfPageFitInput gives it) in mode. Tw or Th
// is 0 when the page has no size.
Placement PlacePdfPageAs(const PdfPageView& page, const PageGeometry& g, const PlacementMode& mode);

// The matrix that draws the page's visible box, turned as a viewer turns it
// and then, when placed.Turned, a quarter counter-clockwise, scaled to
// placed.ScaledW x placed.ScaledH printer pixels, its Kept part at (X, Y)
// in the printable area; what lies outside the area is the caller's to cut.
// For a placement of the default mode, the same matrix as PlacePdfPage of
// its fit.
PdfMatrix PlacePdfPage(const PdfPageView& page, const PageGeometry& g, const Placement& placed);

// The printable area in the sheet's PDF coordinates.
PdfBox PrintableArea(const PageGeometry& g);

}  // namespace tallowin
