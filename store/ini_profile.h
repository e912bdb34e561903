// The application profile as an INI file, read once and committed whole.
#pragma once

#include <optional>
#include <string>

#include "engine/hot_folder_types.h"
#include "engine/ports/profile.h"
#include "store/atomic_file.h"
#include "store/ini_document.h"
#include "store/profile_text.h"

namespace tallowin {

// Section and key names match without regard to case; values are trimmed;
// strings are stored as they are (backslashes, quotes, commas and non-ASCII
// bytes survive); integers are read like the classic profile reader does:
// an optional sign, the leading decimal digits, anything after them ignored,
// 0 when there are no digits. A commit changes only the lines of the values
// that changed, in the file's own encoding (UTF-16 and UTF-8 with a BOM
// included) and line ends, and replaces the file atomically; everything the
// program does not own is kept as it was. Not thread-safe.
class IniProfile final : public Profile {
  public:
    // Reads path. A missing file is an empty, readable profile; a file that
    // exists but cannot be read, or is not a text (NUL bytes, invalid
    // UTF-16), leaves the profile unreadable, with the reason in GetError
    // ("it holds NUL bytes, ...", or the system's error text).
    explicit IniProfile(std::string path);
    // For tests: ops makes the system calls of Commit; it must outlive this.
    IniProfile(std::string path, FileOps& ops);

    const std::string& Path() const { return path_; }
    bool IsReadable() const override { return readable_; }
    std::string GetError() const override { return error_; }
    std::vector<std::string> GetSectionNames() const override { return doc_.SectionNames(); }
    std::int32_t GetInt(const std::string& section, const std::string& key,
                        std::int32_t def) const override;
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& def) const override;
    void WriteInt(const std::string& section, const std::string& key, std::int32_t value) override;
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    void DeleteSection(const std::string& section) override;
    // False, leaving the stored file as it was and the reason in GetError,
    // when the profile is not readable or the file could not be replaced.
    // Nothing is written when nothing changed. A file that changed on disk
    // since it was read here (or appeared, or went) is not replaced either:
    // that is somebody's edit, and the error says so. The check comes just
    // before the replacement; an edit in the instant between is not seen.
    bool Commit() override;
    // The identity of the file as it was read; nullopt when there was none.
    std::optional<FileIdentity> ReadIdentity() const { return readIdentity_; }

  private:
    void Read();

    std::string path_;
    FileOps defaultOps_;
    FileOps& ops_;
    IniDocument doc_;
    TextEncoding encoding_ = TextEncoding::Bytes;
    std::string stored_;  // the bytes as read, to tell whether anything changed
    bool exists_ = false;
    std::optional<FileIdentity> readIdentity_;  // set when exists_
    bool readable_ = false;
    std::string error_;
};

// The integer of a profile value, as described above.
std::int32_t ParseProfileInt(const std::string& text);

}  // namespace tallowin
