#include "res/string_table.h"

#include <algorithm>
#include <array>

namespace tallowin {

namespace {

struct StringEntry {
    int Id;
    const char* Text;
};

// Sorted by id. 109 + state and 119 + error code give the texts of the hot
// folder table; the entries for states that no hot folder takes are kept so
// that every value from 0 to 9 has a text.
constexpr std::array kStrings{
    StringEntry{101, "&About Tallowin..."},
    StringEntry{103, "Windows sockets initialization failed."},
    StringEntry{104, "There is no hot folder selected!"},
    StringEntry{105, "There is no printers installed!"},
    StringEntry{106, "Are you sure to delete hot folder %s?"},
    StringEntry{107, "Printer name: %s is not valid!"},
    StringEntry{108, "Hot folder %s already exists!"},
    StringEntry{109, "Waiting"},
    StringEntry{110, "Error"},
    StringEntry{111, "Running"},
    StringEntry{112, "Resizing"},
    StringEntry{113, "Printing"},
    StringEntry{114, "Unknown"},
    StringEntry{115, "Unknown"},
    StringEntry{116, "Unknown"},
    StringEntry{117, "Unknown"},
    StringEntry{118, "Unknown"},
    StringEntry{119, "No errors"},
    StringEntry{120, "Path is not valid"},
    StringEntry{121, "Printer name is not valid"},
    StringEntry{122, "Not a picture or unsupported format"},
    StringEntry{123, "Damaged or incomplete picture"},
    StringEntry{124, "Picture too large"},
    StringEntry{125, "Printer cannot be reached"},
    StringEntry{126, "Printer refused or aborted the job"},
    StringEntry{127, "Printer gives no usable page size"},
    StringEntry{128, "Printed but could not be deleted"},
    StringEntry{129, "Scan time should be at least 5 seconds!"},
};

static_assert(std::ranges::is_sorted(kStrings, {}, &StringEntry::Id));

}  // namespace

QString LoadString(int id) {
    const auto entry = std::ranges::lower_bound(kStrings, id, {}, &StringEntry::Id);
    if (entry == kStrings.end() || entry->Id != id) return {};
    return QString::fromUtf8(entry->Text);
}

QString FormatString(int id, const QString& arg) {
    QString text = LoadString(id);
    const qsizetype at = text.indexOf("%s");
    if (at >= 0) text.replace(at, 2, arg);
    return text;
}

}  // namespace tallowin
