#include "store/ini_profile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "os/file_identity.h"
#include "util/unique_fd.h"

namespace tallowin {

// Not a delegation to the constructor below: a member named in the
// arguments of a delegating constructor is used before the object's life
// begins, which is undefined (Clang's UBSan stops on it).
IniProfile::IniProfile(std::string path) : path_(std::move(path)), ops_(defaultOps_) {
    Read();
}

IniProfile::IniProfile(std::string path, FileOps& ops) : path_(std::move(path)), ops_(ops) {
    Read();
}

void IniProfile::Read() {
    const UniqueFd fd(open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        // Absent is fine (the first start); anything else must not be taken
        // for an empty profile and saved over.
        readable_ = (errno == ENOENT);
        if (!readable_) error_ = std::strerror(errno);
        return;
    }
    exists_ = true;
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = "it is not a regular file";
        return;
    }
    readIdentity_ = IdentityOf(st);
    for (;;) {
        char buffer[8192];
        const ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error_ = std::strerror(errno);
            return;
        }
        if (n == 0) break;
        stored_.append(buffer, static_cast<size_t>(n));
    }
    DecodedText decoded = DecodeProfileText(stored_);
    if (!decoded.Ok) {
        error_ = decoded.Error;
        return;
    }
    encoding_ = decoded.Encoding;
    doc_ = IniDocument(decoded.Text);
    readable_ = true;
}

std::int32_t ParseProfileInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::uint32_t value = 0;  // wraps like the 32-bit reader it copies
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    }
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

std::int32_t IniProfile::GetInt(const std::string& section, const std::string& key,
                                std::int32_t def) const {
    const auto value = doc_.Get(section, key);
    return value ? ParseProfileInt(*value) : def;
}

std::string IniProfile::GetString(const std::string& section, const std::string& key,
                                  const std::string& def) const {
    return doc_.Get(section, key).value_or(def);
}

void IniProfile::WriteInt(const std::string& section, const std::string& key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniProfile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
    doc_.Set(section, key, value);
}

void IniProfile::DeleteSection(const std::string& section) {
    doc_.RemoveSection(section);
}

bool IniProfile::Commit() {
    if (!readable_) return false;  // error_ already says why
    const EncodedText encoded = EncodeProfileText(doc_.Text(), encoding_);
    if (!encoded.Ok) {
        error_ = encoded.Error;
        return false;
    }
    // Unchanged: the file stays untouched, a read-only one included.
    if (exists_ && encoded.Bytes == stored_) return true;
    if (IdentityOfPath(path_) != readIdentity_) {
        error_ =
            "it was changed on disk since it was read; that edit is kept and nothing was "
            "written over it";
        return false;
    }
    const ReplaceResult replaced = ReplaceFileAtomically(path_, encoded.Bytes, ops_);
    if (!replaced.Ok) {
        error_ = replaced.Error;
        return false;
    }
    stored_ = encoded.Bytes;
    exists_ = true;
    readIdentity_ = IdentityOfPath(path_);
    error_.clear();
    return true;
}

}  // namespace tallowin
