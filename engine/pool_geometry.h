// The page of a printer, and of a pool of printers (a CUPS class), from the
// sheets they print on: pure arithmetic.
#pragma once

#include <optional>
#include <vector>

#include "engine/ports/services.h"

namespace tallowin {

// A sheet as a printer prints on it, turned the way the page lies: its size
// and margins in 1/100 mm (as IPP gives them) and the printer's resolution
// in dots per inch across and down the page.
struct PrinterSheet {
    int Width = 0, Length = 0;
    int Left = 0, Right = 0, Top = 0, Bottom = 0;
    int Rx = 0, Ry = 0;
};

// Pw = floor(printable width * Rx / 2540), Ph likewise; the sheet and the
// printable area's top-left corner in points. Nullopt when the sheet leaves
// no printable pixel or a resolution is not positive.
std::optional<PageGeometry> PageOf(const PrinterSheet& sheet);

// The one page that every member of a pool can print, since the scheduler,
// not Tallowin, picks the member a job goes to. When the members agree it is
// their page. Otherwise: the lowest resolution across and the lowest down
// (so no member is sent more pixels than it prints), the smallest printable
// width and the smallest printable length among the members at that
// resolution, and the sheet and margins of the member with the smallest
// printable area, so that the image still starts at the top-left corner of a
// printable area. Nullopt for no members, or when any member has no page of
// its own: a job sent there could not be placed.
std::optional<PageGeometry> PoolPage(const std::vector<PrinterSheet>& members);

}  // namespace tallowin
