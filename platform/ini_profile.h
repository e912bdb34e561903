// The application profile as an INI file, read once and committed whole.
#pragma once

#include <memory>
#include <string>

#include "platform/atomic_file.h"
#include "scheduling/profile.h"

// Section and key names match without regard to case; values are trimmed;
// strings are stored as they are (backslashes, quotes, commas and non-ASCII
// bytes survive); integers are read like the classic profile reader does:
// an optional sign, the leading decimal digits, anything after them ignored,
// 0 when there are no digits. Sections, keys and comments that the program
// does not own are kept on commit. Commit replaces the file atomically.
// Not thread-safe: one thread at a time.
class IniProfile final : public Profile {
  public:
    // Reads path. A missing file is an empty, readable profile; a file that
    // exists but cannot be read leaves the profile unreadable.
    explicit IniProfile(std::string path);
    // For tests: ops makes the system calls of Commit; it must outlive this.
    IniProfile(std::string path, FileOps& ops);
    ~IniProfile() override;

    const std::string& Path() const { return path_; }
    bool IsReadable() const override { return readable_; }
    std::int32_t GetInt(const std::string& section, const std::string& key,
                        std::int32_t def) const override;
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& def) const override;
    void WriteInt(const std::string& section, const std::string& key, std::int32_t value) override;
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    // False, leaving the stored file as it was, when the profile is not
    // readable or the file could not be replaced.
    bool Commit() override;

  private:
    struct Document;
    std::string path_;
    FileOps defaultOps_;
    FileOps& ops_;
    std::unique_ptr<Document> doc_;
    bool readable_ = false;
};

// The integer of a profile value, as described above.
std::int32_t ParseProfileInt(const std::string& text);
