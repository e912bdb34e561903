#include "app/list_printers.h"

#include <cstdio>
#include <memory>

namespace tallowin {

std::string DescribePrinter(const std::string& name, const PageGeometry* g) {
    if (g == nullptr) return name + "  cannot be printed on (no page size or resolution)";
    char text[256];
    std::snprintf(text, sizeof text,
                  "  %dx%d dpi  media %.2fx%.2f in  margins left %.2f top %.2f in  printable "
                  "%dx%d px",
                  g->Rx, g->Ry, g->MediaWidthPt / 72, g->MediaHeightPt / 72, g->LeftPt / 72,
                  g->TopPt / 72, g->Pw, g->Ph);
    return name + text;
}

int RunListPrinters(const std::vector<std::string>& names, Spooler& spooler, std::ostream& out,
                    std::ostream& err) {
    if (names.empty()) {
        err << "tallowin: no printers (is the CUPS scheduler running?)\n";
        return 1;
    }
    const NeverStop stop;
    for (const std::string& name : names) {
        const Result<std::unique_ptr<Printer>> printer = spooler.Open(name, stop);
        out << DescribePrinter(name, printer.Ok() ? &printer.Value->Geometry() : nullptr) << "\n";
    }
    return 0;
}

}  // namespace tallowin
