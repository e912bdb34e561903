// HotFolderList::Load and Save: the hot folders' settings in the profile.
#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <string>

#include "engine/scan_time.h"
#include "scheduling/hot_folder_list.h"

namespace tallowin {

namespace {

// Section and key names, shared by Load and Save.
constexpr const char* kSectionInit = "Init";
constexpr const char* kKeyCount = "FHNumber";
constexpr const char* kKeyVersion = "Version";
constexpr std::string_view kSectionFolder = "HotFolder";
constexpr const char* kKeyFolderPath = "FolderPath";
constexpr const char* kKeyPrinterName = "PrinterName";
constexpr const char* kKeyName = "Name";
constexpr const char* kKeyScanTime = "ScanTime";

// A scan time of 0 would scan without pause, and -1 would never come round
// in the unsigned tick arithmetic.
constexpr std::int32_t kShortestScanTime = 1;

// "HotFolder" followed by a section number.
std::string FolderSection(int number) {
    return std::string(kSectionFolder) + std::to_string(number);
}

// The number of a "HotFolderN" section name (any case), written the way
// FolderSection writes it, or nullopt.
std::optional<int> FolderNumber(const std::string& section) {
    if (section.size() <= kSectionFolder.size() || section.size() > kSectionFolder.size() + 9) {
        return std::nullopt;
    }
    for (size_t i = 0; i < kSectionFolder.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(section[i])) !=
            std::tolower(static_cast<unsigned char>(kSectionFolder[i]))) {
            return std::nullopt;
        }
    }
    const std::string digits = section.substr(kSectionFolder.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
    return std::stoi(digits);
}

// The numbers of the folder sections in the profile below count, ascending.
// Taken from the sections present, so that a huge count costs nothing.
std::set<int> FolderNumbers(const Profile& profile, std::int32_t count) {
    std::set<int> numbers;
    for (const std::string& name : profile.GetSectionNames()) {
        const auto number = FolderNumber(name);
        if (number && *number < count) numbers.insert(*number);
    }
    return numbers;
}

}  // namespace

bool HotFolderList::Load(const Profile& profile) {
    Guard guard(lock_);
    if (!profile.IsReadable()) return false;
    skipped_.clear();
    const std::int32_t count = profile.GetInt(kSectionInit, kKeyCount, 0);
    for (const int number : FolderNumbers(profile, count)) {
        const std::string section = FolderSection(number);
        const std::string name = profile.GetString(section, kKeyName, "");
        if (name.empty()) {
            // Kept for Save to leave as it is; the folders after it load.
            skipped_.emplace(number, SkippedSection{section, "it has no Name"});
            continue;
        }
        const std::string path = profile.GetString(section, kKeyFolderPath, "");
        const std::string printer = profile.GetString(section, kKeyPrinterName, "");
        const std::int32_t scanTime = std::max(
            kShortestScanTime, ParseScanTime(profile.GetString(section, kKeyScanTime, "")));
        AddLocked(HotFolder(name, path, printer, scanTime));
    }
    loaded_ = true;
    return true;
}

std::vector<HotFolderList::SkippedSection> HotFolderList::GetSkipped() const {
    Guard guard(lock_);
    std::vector<SkippedSection> out;
    for (const auto& [number, section] : skipped_) out.push_back(section);
    return out;
}

bool HotFolderList::Save(Profile& profile) {
    Guard guard(lock_);
    if (!loaded_) return false;
    // Each folder, in id order, takes the lowest number no skipped section
    // holds.
    std::vector<int> numbers;
    for (int next = 0; numbers.size() < folders_.size(); ++next) {
        if (skipped_.count(next) == 0) numbers.push_back(next);
    }
    int count = numbers.empty() ? 0 : numbers.back() + 1;
    if (!skipped_.empty()) count = std::max(count, skipped_.rbegin()->first + 1);

    // Sections below the old or the new count that are neither written now
    // nor skipped belonged to folders that are gone.
    const std::int32_t oldCount = profile.GetInt(kSectionInit, kKeyCount, 0);
    const std::set<int> used(numbers.begin(), numbers.end());
    for (const int number : FolderNumbers(profile, std::max(oldCount, count))) {
        if (used.count(number) == 0 && skipped_.count(number) == 0) {
            profile.DeleteSection(FolderSection(number));
        }
    }

    profile.WriteInt(kSectionInit, kKeyCount, count);
    profile.WriteInt(kSectionInit, kKeyVersion, 1);
    auto number = numbers.begin();
    // Only the four settings are read: no file table is copied, so a scan
    // still running at exit is never raced.
    for (const auto& [id, folder] : folders_) {
        const std::string section = FolderSection(*number++);
        profile.WriteString(section, kKeyFolderPath, folder.GetFolderPath());
        profile.WriteString(section, kKeyPrinterName, folder.GetPrinterName());
        profile.WriteString(section, kKeyName, folder.GetName());
        profile.WriteInt(section, kKeyScanTime, folder.GetScanTime());
    }
    return profile.Commit();
}

}  // namespace tallowin
