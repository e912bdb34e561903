// Where a picture goes in the printable area and how large: pure arithmetic
// beside the page fit (engine/page_fit.h), for each way a hot folder may
// scale, place and turn its pictures.
//
// All lengths on paper are whole printer (device) pixels. The picture keeps
// its proportions in every mode; what does not fit is cut off, never
// squeezed. With Scaling::AutoFit, Position::TopLeft and Rotation::No the
// size is FitToPage's, to the pixel, at the area's top-left corner.
#pragma once

#include "engine/page_fit.h"

namespace tallowin {

// As IPP's print-scaling names them.
enum class Scaling {
    AutoFit,  // the picture's own size, shrunk to fit when larger; never enlarged
    Fit,      // enlarged or shrunk until it just fits
    Fill,     // enlarged or shrunk until it covers the area; what overflows is
              // cut evenly from both sides (an odd pixel from the right or bottom)
    None,     // the picture's own size; cut at the area's edges
};

// As CUPS' position option names them: where the printed picture sits in the
// printable area. Fill covers the area, so it sits everywhere; with None a
// picture larger than the area is cut on the sides away from its position
// (from both, evenly, when centred on that axis).
enum class Position {
    TopLeft,
    Top,
    TopRight,
    Left,
    Center,
    Right,
    BottomLeft,
    Bottom,
    BottomRight
};

enum class Rotation {
    No,
    Auto,  // turned 90° counter-clockwise when that prints more of it larger:
           // with Fill, when less is cut off; else when the printed part
           // covers more pixels. A tie is not turned.
};

// How a hot folder scales, places and turns what it prints.
struct PlacementMode {
    Scaling Scale = Scaling::AutoFit;
    Position Place = Position::TopLeft;
    Rotation Turn = Rotation::No;

    bool operator==(const PlacementMode&) const = default;
};

struct PlacementInput {
    FitInput Fit;  // picture size and resolution, printer resolution, printable area
    Scaling Scale = Scaling::AutoFit;
    Position Place = Position::TopLeft;
    Rotation Turn = Rotation::No;
};

struct PixelRect {
    int X = 0, Y = 0, W = 0, H = 0;
    bool operator==(const PixelRect&) const = default;
};

// A part of the picture in its own pixels, exact (not rounded to whole
// pixels).
struct PictureRegion {
    double X = 0, Y = 0, W = 0, H = 0;
};

struct Placement {
    // The picture is turned 90° counter-clockwise before anything else; the
    // sizes, the kept part and the source region below are all of the turned
    // picture (H pixels wide, W tall) when true.
    bool Turned = false;
    // The whole picture at its printed scale.
    int ScaledW = 0, ScaledH = 0;
    // The part that is printed (Tw x Th, never more than the printable area)
    // and where its top-left corner sits in the printable area.
    int Tw = 0, Th = 0;
    int X = 0, Y = 0;
    // The printed part within the ScaledW x ScaledH picture: {x, y, Tw, Th};
    // the whole of it when nothing is cut off.
    PixelRect Kept;
    // The printed part in picture pixels: resampling exactly this region to
    // Tw x Th prints what Kept says without scaling the whole picture first.
    PictureRegion Source;

    bool Cut() const { return Tw != ScaledW || Th != ScaledH; }
};

// The placement of in.Fit's picture. The resolutions are read as FitToPage
// reads them (0 in Dx or Dy means 72 x 72). All zero when the picture, the
// area or a printer resolution is not at least 1 pixel or dot per inch.
// Fit, Fill and None give at least 1 x 1 pixels; a scaled size past 2^30
// pixels (a picture a few pixels wide filling the area, or one of 1 dpi
// printed at its own size) is held at 2^30.
Placement PlacePicture(const PlacementInput& in);

}  // namespace tallowin
