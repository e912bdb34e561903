// The hot folders' settings as the profile stores them, and how the edits of
// two writers of one profile come together: the window's edits in memory and
// a user's edit of the file on disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/job_settings.h"

namespace tallowin {

// A hot folder's settings, as Load reads them from its section: the four
// the window shows, and the print settings, as written.
struct FolderSettings {
    std::string Name;
    std::string FolderPath;
    std::string PrinterName;
    std::int32_t ScanTime = 0;
    JobSettingsText Print;

    auto operator<=>(const FolderSettings&) const = default;
};

// The three-way merge of folder lists that share the ancestor base: ours and
// theirs were both made from it. Folders are compared whole, as values, so a
// changed folder is the old one removed and the new one added. The result is
// theirs, less each base folder that ours removed or changed, plus each
// folder that ours added or changed, in ours' order, unless theirs made the
// same one. A folder that both changed is in it twice, once as each changed
// it: nothing either side wrote is lost.
std::vector<FolderSettings> MergeFolderEdits(const std::vector<FolderSettings>& base,
                                             const std::vector<FolderSettings>& ours,
                                             const std::vector<FolderSettings>& theirs);

}  // namespace tallowin
