// The texts the main window shows for a hot folder's state and error code.
#pragma once

#include <QString>

namespace tallowin {

// String 109 + state; "Unknown" for 5 to 9 (values no folder takes), and an
// empty text outside 0 to 9, as the string table has nothing there.
QString StateText(int state);
// String 119 + error; the codes past the string table's ten (HF_ERR_STATE
// and on) have texts of their own.
QString ErrorText(int error);
// The row's error cell: ErrorText(error), and for HF_ERR_PRINTER_ATTENTION
// "Printer needs attention: <printerTrouble>" when the printer said why.
QString ErrorText(int error, const QString& printerTrouble);

}  // namespace tallowin
