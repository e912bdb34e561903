// The texts the main window shows for a hot folder's state and error code.
#pragma once

#include <QString>

namespace tallowin {

// String 109 + state; "Unknown" for 5 to 9 (values no folder takes), and an
// empty text outside 0 to 9, as the string table has nothing there.
QString StateText(int state);
// String 119 + error; HF_ERR_STATE, HF_ERR_DUPLICATE, HF_ERR_CHANGED and
// HF_ERR_OTHER_HOST have texts of their own.
QString ErrorText(int error);

}  // namespace tallowin
