// Message boxes with the classic flags and results, through one seam so that
// tests can answer them without a person.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tallowin {

// Buttons and icons, as the classic flags combine them.
enum MessageBoxFlags : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
};

// Results.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// Shows a modal message box over parent (may be null) and returns the button
// pressed: IDOK, or IDCANCEL for Cancel, Escape or the close box.
int ShowMessageBox(QWidget* parent, const QString& text, const QString& caption, unsigned flags);

// Tests: while a handler is set, ShowMessageBox calls it instead of showing
// anything and returns what it returns. Pass an empty function to restore.
using MessageBoxHandler =
    std::function<int(const QString& text, const QString& caption, unsigned flags)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace tallowin
