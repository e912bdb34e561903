// `tallowin --list-printers`: every destination and the page Tallowin would
// print on it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "engine/ports/services.h"

namespace tallowin {

// One line for a destination: its name, then its resolution, its sheet and
// its printable area in pixels as a print job sees them (geometry), or a
// note that it cannot be printed on (no geometry).
std::string DescribePrinter(const std::string& name, const PageGeometry* geometry);

// The lines for names (each opened with spooler, classes included) on out.
// 0, or 1 with a line on err when there is no destination at all.
int RunListPrinters(const std::vector<std::string>& names, Spooler& spooler, std::ostream& out,
                    std::ostream& err);

}  // namespace tallowin
