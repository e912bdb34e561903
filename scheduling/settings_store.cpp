// HotFolderList::Load and Save: the hot folders' settings in the profile.
#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

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

// The print settings of a folder's section, each as written ("" when the
// key is absent): a wrong value is kept for the folder to show at Start and
// for Save to write back as it was.
JobSettingsText ReadPrintSettings(const Profile& profile, const std::string& section) {
    JobSettingsText text;
    for (const JobSettingsKey& key : kJobSettingsKeys) {
        text.*key.Field = profile.GetString(section, key.Key, "");
    }
    return text;
}

// Writes only the print settings that differ from the section's: a section
// without them stays without them, byte for byte. A setting cleared since
// stays as an empty key, which reads as absent.
void WritePrintSettings(Profile& profile, const std::string& section, const JobSettingsText& text) {
    for (const JobSettingsKey& key : kJobSettingsKeys) {
        const std::string& value = text.*key.Field;
        if (profile.GetString(section, key.Key, "") != value) {
            profile.WriteString(section, key.Key, value);
        }
    }
}

// What Load reads from a readable profile.
struct ProfileFolders {
    std::vector<FolderSettings> Folders;  // in section order
    std::map<int, HotFolderList::SkippedSection> Skipped;

    std::vector<std::string> SkippedNames() const {
        std::vector<std::string> names;
        for (const auto& [number, section] : Skipped) names.push_back(section.Section);
        return names;
    }
};

ProfileFolders ReadFolders(const Profile& profile) {
    ProfileFolders read;
    const std::int32_t count = profile.GetInt(kSectionInit, kKeyCount, 0);
    for (const int number : FolderNumbers(profile, count)) {
        const std::string section = FolderSection(number);
        const std::string name = profile.GetString(section, kKeyName, "");
        if (name.empty()) {
            // Kept for Save to leave as it is; the folders after it load.
            read.Skipped.emplace(number, HotFolderList::SkippedSection{section, "it has no Name"});
            continue;
        }
        read.Folders.push_back(
            FolderSettings{name, profile.GetString(section, kKeyFolderPath, ""),
                           profile.GetString(section, kKeyPrinterName, ""),
                           ProfileScanTime(profile.GetString(section, kKeyScanTime, "")),
                           ReadPrintSettings(profile, section)});
    }
    return read;
}

HotFolder MakeFolder(const FolderSettings& f) {
    HotFolder folder(f.Name, f.FolderPath, f.PrinterName, f.ScanTime);
    folder.PrintSettings = f.Print;
    return folder;
}

}  // namespace

bool HotFolderList::Load(const Profile& profile) {
    Guard guard(lock_);
    if (!profile.IsReadable()) return false;
    ProfileFolders read = ReadFolders(profile);
    for (const FolderSettings& f : read.Folders) AddLocked(MakeFolder(f));
    baselineFolders_ = std::move(read.Folders);
    baselineSkipped_ = read.SkippedNames();
    skipped_ = std::move(read.Skipped);
    loaded_ = true;
    return true;
}

bool HotFolderList::IsLoaded() const {
    Guard guard(lock_);
    return loaded_;
}

std::vector<HotFolderList::SkippedSection> HotFolderList::GetSkipped() const {
    Guard guard(lock_);
    std::vector<SkippedSection> out;
    for (const auto& [number, section] : skipped_) out.push_back(section);
    return out;
}

std::vector<FolderSettings> HotFolderList::SettingsLocked() const {
    std::vector<FolderSettings> out;
    for (const auto& [id, f] : folders_) {
        out.push_back(
            {f.GetName(), f.GetFolderPath(), f.GetPrinterName(), f.GetScanTime(), f.PrintSettings});
    }
    return out;
}

bool HotFolderList::HasOwnChangesLocked() const {
    // Ids follow section order after a load, and a folder added here takes
    // the lowest free id, so order alone may differ without a change.
    std::vector<FolderSettings> now = SettingsLocked(), then = baselineFolders_;
    std::sort(now.begin(), now.end());
    std::sort(then.begin(), then.end());
    return now != then;
}

bool HotFolderList::HasOwnChanges() const {
    Guard guard(lock_);
    return HasOwnChangesLocked();
}

bool HotFolderList::ChangedOnDisk(const Profile& profile) const {
    if (!profile.IsReadable()) return false;
    const ProfileFolders read = ReadFolders(profile);
    Guard guard(lock_);
    return read.Folders != baselineFolders_ || read.SkippedNames() != baselineSkipped_;
}

HotFolderList::TakeInResult HotFolderList::TakeInLocked(std::vector<FolderSettings> folders,
                                                        std::map<int, SkippedSection> skipped) {
    TakeInResult result{.Ok = true, .KeptOwnChanges = HasOwnChangesLocked()};
    const std::vector<FolderSettings> merged =
        result.KeptOwnChanges ? MergeFolderEdits(baselineFolders_, SettingsLocked(), folders)
                              : folders;
    folders_.clear();
    for (const FolderSettings& f : merged) AddLocked(MakeFolder(f));
    skipped_ = std::move(skipped);
    baselineFolders_ = std::move(folders);
    baselineSkipped_.clear();
    for (const auto& [number, section] : skipped_) baselineSkipped_.push_back(section.Section);
    loaded_ = true;
    return result;
}

HotFolderList::TakeInResult HotFolderList::TakeIn(const Profile& profile) {
    if (!profile.IsReadable()) return {};
    ProfileFolders read = ReadFolders(profile);
    Guard guard(lock_);
    return TakeInLocked(std::move(read.Folders), std::move(read.Skipped));
}

HotFolderList::SaveResult HotFolderList::Save(Profile& profile) {
    Guard guard(lock_);
    if (!loaded_ || !profile.IsReadable()) return {};
    SaveOutcome outcome = SaveOutcome::Saved;
    ProfileFolders read = ReadFolders(profile);
    if (read.Folders != baselineFolders_ || read.SkippedNames() != baselineSkipped_) {
        // Somebody edited the file since it was read. With nothing of our own
        // to add, the file already says all there is; otherwise both go in.
        if (!HasOwnChangesLocked()) return {SaveOutcome::KeptEdit};
        TakeInLocked(std::move(read.Folders), std::move(read.Skipped));
        outcome = SaveOutcome::Merged;
    }
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
    // Only the settings are read: no file table is copied, so a scan
    // still running at exit is never raced.
    for (const auto& [id, folder] : folders_) {
        const std::string section = FolderSection(*number++);
        profile.WriteString(section, kKeyFolderPath, folder.GetFolderPath());
        profile.WriteString(section, kKeyPrinterName, folder.GetPrinterName());
        profile.WriteString(section, kKeyName, folder.GetName());
        profile.WriteInt(section, kKeyScanTime, folder.GetScanTime());
        WritePrintSettings(profile, section, folder.PrintSettings);
    }
    if (!profile.Commit()) return {};
    baselineFolders_ = SettingsLocked();
    return {outcome};
}

}  // namespace tallowin
