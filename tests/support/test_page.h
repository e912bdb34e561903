// The page geometry the page tests print on: 150 dpi, a 4 x 3.5 in sheet,
// the printable area 30 px from the left and 60 px from the top, so that
// placement falls on whole printer pixels and compares exactly.
#pragma once

#include "engine/ports/services.h"

namespace tallowin {

inline PageGeometry TestPageGeometry() {
    PageGeometry g;
    g.Rx = g.Ry = 150;
    g.MediaWidthPt = 288;
    g.MediaHeightPt = 252;
    g.LeftPt = 14.4;
    g.TopPt = 28.8;
    g.Pw = 540;
    g.Ph = 420;
    return g;
}

}  // namespace tallowin
