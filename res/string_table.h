// The application's string table: every message, the About entry of the
// window menu, and the texts of the hot folder states and error codes.
#pragma once

#include <QString>

namespace tallowin {

// The text of string `id` (101, and 103 to 129), exactly as the program
// shows it; a text with "%s" takes one argument, substituted by the caller.
// Returns an empty string for an id the table does not hold. Thread-safe:
// the table is constant.
QString LoadString(int id);

// The text of string `id` with its "%s" replaced by arg (the whole of arg,
// whatever it holds: a "%" in a folder's name is not a pattern).
QString FormatString(int id, const QString& arg);

}  // namespace tallowin
