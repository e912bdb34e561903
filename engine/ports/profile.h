// The application profile: named sections of named integer and string
// values, as the settings store reads and writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallowin {

class Profile {
  public:
    virtual ~Profile() = default;
    // False when the stored profile exists but could not be read: nothing
    // may then be loaded from it, and nothing saved over it.
    virtual bool IsReadable() const = 0;
    // Why the profile is not readable, or why the last Commit failed, in
    // words for the user; empty when neither happened.
    virtual std::string GetError() const = 0;
    // The names of the sections, each once, in the order they are stored.
    virtual std::vector<std::string> GetSectionNames() const = 0;
    // The stored value, or the default when the section or the key is absent.
    // Section and key names match without regard to case.
    virtual std::int32_t GetInt(const std::string& section, const std::string& key,
                                std::int32_t def) const = 0;
    virtual std::string GetString(const std::string& section, const std::string& key,
                                  const std::string& def) const = 0;
    // Change the profile in memory; Commit stores it.
    virtual void WriteInt(const std::string& section, const std::string& key,
                          std::int32_t value) = 0;
    virtual void WriteString(const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    // Removes the section with everything in it.
    virtual void DeleteSection(const std::string& section) = 0;
    // Stores every change at once: afterwards the stored profile is either
    // the old one or the new one, never a mix. False when it could not.
    virtual bool Commit() = 0;
};

}  // namespace tallowin
