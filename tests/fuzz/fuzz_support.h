// What the fuzz targets share: a scratch file for the readers that take a
// path, and the check that turns a broken property into a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tallowin::fuzz {

// Aborts with the property and the reason on standard error: libFuzzer
// keeps the input that did it as a crash artifact.
[[noreturn]] void PropertyFailed(const char* property, const std::string& detail = {});

// The property must hold; the input is a finding when it does not.
inline void Check(bool holds, const char* property, const std::string& detail = {}) {
    if (!holds) PropertyFailed(property, detail);
}

// A private folder under $TMPDIR (else /tmp) with one file in it, both
// removed when the object goes. Aborts when the folder cannot be made or
// the file written: the machine is at fault then, not the input.
class ScratchFolder {
  public:
    explicit ScratchFolder(const char* name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Folder() const { return folder_; }
    // The folder's file: <folder>/<name>.
    const std::string& File() const { return file_; }
    // Replaces whatever is in the folder with File() holding these bytes.
    void Write(const std::uint8_t* data, std::size_t size) const;
    // Removes every entry of the folder.
    void Clear() const;

  private:
    std::string folder_;
    std::string file_;
};

}  // namespace tallowin::fuzz
