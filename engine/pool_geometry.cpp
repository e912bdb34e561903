#include "engine/pool_geometry.h"

#include <algorithm>
#include <cstdint>

#include "util/units.h"

namespace tallowin {

namespace {

std::int64_t PrintableWidth(const PrinterSheet& s) {
    return std::int64_t{s.Width} - s.Left - s.Right;
}

std::int64_t PrintableLength(const PrinterSheet& s) {
    return std::int64_t{s.Length} - s.Top - s.Bottom;
}

}  // namespace

std::optional<PageGeometry> PageOf(const PrinterSheet& s) {
    if (s.Rx <= 0 || s.Ry <= 0) return std::nullopt;
    const std::int64_t width = PrintableWidth(s);
    const std::int64_t length = PrintableLength(s);
    if (width <= 0 || length <= 0) return std::nullopt;

    PageGeometry g;
    g.Rx = s.Rx;
    g.Ry = s.Ry;
    g.Pw = HundredthsMmToPixels(width, s.Rx);
    g.Ph = HundredthsMmToPixels(length, s.Ry);
    g.MediaWidthPt = HundredthsMmToPoints(s.Width);
    g.MediaHeightPt = HundredthsMmToPoints(s.Length);
    g.LeftPt = HundredthsMmToPoints(s.Left);
    g.TopPt = HundredthsMmToPoints(s.Top);
    if (g.Pw <= 0 || g.Ph <= 0) return std::nullopt;
    return g;
}

std::optional<PageGeometry> PoolPage(const std::vector<PrinterSheet>& members) {
    if (members.empty()) return std::nullopt;
    for (const PrinterSheet& m : members) {
        if (!PageOf(m)) return std::nullopt;
    }
    const auto lowest = [&](int PrinterSheet::*field) {
        int value = members.front().*field;
        for (const PrinterSheet& m : members) value = std::min(value, m.*field);
        return value;
    };
    const int rx = lowest(&PrinterSheet::Rx);
    const int ry = lowest(&PrinterSheet::Ry);

    // The first of equal areas wins, so the result does not depend on how
    // the scheduler happens to order identical members.
    const PrinterSheet& smallest = *std::min_element(
        members.begin(), members.end(), [](const PrinterSheet& a, const PrinterSheet& b) {
            return PrintableWidth(a) * PrintableLength(a) < PrintableWidth(b) * PrintableLength(b);
        });
    PrinterSheet combined = smallest;
    combined.Rx = rx;
    combined.Ry = ry;
    std::optional<PageGeometry> g = PageOf(combined);
    if (!g) return std::nullopt;
    for (const PrinterSheet& m : members) {
        g->Pw = std::min(g->Pw, HundredthsMmToPixels(PrintableWidth(m), rx));
        g->Ph = std::min(g->Ph, HundredthsMmToPixels(PrintableLength(m), ry));
    }
    if (g->Pw <= 0 || g->Ph <= 0) return std::nullopt;
    return g;
}

}  // namespace tallowin
