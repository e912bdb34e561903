// HotFolderList::Load and Save: the hot folders' settings in the profile.
#include <string>

#include "scheduling/hot_folder_list.h"

namespace {

// Section and key names, shared by Load and Save.
constexpr const char* kSectionInit = "Init";
constexpr const char* kKeyCount = "FHNumber";
constexpr const char* kKeyVersion = "Version";
constexpr const char* kSectionFolder = "HotFolder";
constexpr const char* kKeyFolderPath = "FolderPath";
constexpr const char* kKeyPrinterName = "PrinterName";
constexpr const char* kKeyName = "Name";
constexpr const char* kKeyScanTime = "ScanTime";

// "HotFolder" followed by the folder's position (not its id).
std::string FolderSection(int position) {
    return kSectionFolder + std::to_string(position);
}

}  // namespace

bool HotFolderList::Load(const Profile& profile) {
    Guard guard(lock);
    if (!profile.IsReadable()) return false;
    const std::int32_t count = profile.GetInt(kSectionInit, kKeyCount, 0);
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string section = FolderSection(i);
        const std::string path = profile.GetString(section, kKeyFolderPath, "");
        const std::int32_t scanTime = profile.GetInt(section, kKeyScanTime, 0);
        const std::string printer = profile.GetString(section, kKeyPrinterName, "");
        const std::string name = profile.GetString(section, kKeyName, "");
        // A section without a name ends the list, whatever the count says.
        if (name.empty()) break;
        Add(HotFolder(name, path, printer, scanTime));
    }
    loaded = true;
    return true;
}

bool HotFolderList::Save(Profile& profile) {
    Guard guard(lock);
    if (!loaded) return false;
    profile.WriteInt(kSectionInit, kKeyCount, static_cast<std::int32_t>(folders.size()));
    profile.WriteInt(kSectionInit, kKeyVersion, 1);
    int position = 0;
    // Only the four settings are read: no file table is copied, so a scan
    // still running at exit is never raced.
    for (const auto& [id, folder] : folders) {
        const std::string section = FolderSection(position++);
        profile.WriteString(section, kKeyFolderPath, folder.GetFolderPath());
        profile.WriteString(section, kKeyPrinterName, folder.GetPrinterName());
        profile.WriteString(section, kKeyName, folder.GetName());
        profile.WriteInt(section, kKeyScanTime, folder.GetScanTime());
    }
    return profile.Commit();
}
