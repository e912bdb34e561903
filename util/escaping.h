// Fields of the tab-separated state files (the job ledger, the print log):
// a field may hold any byte, so the four that would break a line or a field
// (backslash, tab, line feed, carriage return) are written as \\, \t, \n and
// \r, and read back exactly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

// Appends field to out, escaped as above. Throws std::bad_alloc.
void AppendEscaped(std::string& out, std::string_view field);

// The field as it was before AppendEscaped; nullopt for a backslash at the
// end or before any other character (a damaged field).
std::optional<std::string> Unescaped(std::string_view field);

}  // namespace tallowin
