// The window's words for a hot folder's state and error (ui/hot_folder_texts.h),
// for `tallowin status`: the window and the service answer in the words
// the window's rows use. Part of the executable, which links the windows.
#pragma once

#include "app/status_report.h"

namespace tallowin {

// Callable from any thread: the string table is constant.
FolderTexts RowTexts();

}  // namespace tallowin
