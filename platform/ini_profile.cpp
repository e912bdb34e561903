#include "platform/ini_profile.h"

// Debian ships SimpleIni with its template bodies behind this switch.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

struct IniProfile::Document {
    Document() { ini.SetSpaces(false); }  // key=value, as the classic writer puts it
    CSimpleIniA ini{/*isUtf8=*/false, /*multiKey=*/false, /*multiLine=*/false};
};

IniProfile::IniProfile(std::string path) : IniProfile(std::move(path), defaultOps_) {}

IniProfile::IniProfile(std::string path, FileOps& ops)
    : path_(std::move(path)), ops_(ops), doc_(std::make_unique<Document>()) {
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        // Absent is fine (the first start); anything else must not be taken
        // for an empty profile and saved over.
        readable_ = (errno == ENOENT);
        return;
    }
    std::string bytes;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    while (ok) {
        char buffer[8192];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    readable_ = ok && doc_->ini.LoadData(bytes) >= 0;
}

IniProfile::~IniProfile() = default;

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
    const char* value = doc_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
    return value == nullptr ? def : ParseProfileInt(value);
}

std::string IniProfile::GetString(const std::string& section, const std::string& key,
                                  const std::string& def) const {
    const char* value = doc_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
    return value == nullptr ? def : std::string(value);
}

void IniProfile::WriteInt(const std::string& section, const std::string& key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void IniProfile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
    doc_->ini.SetValue(section.c_str(), key.c_str(), value.c_str());
}

bool IniProfile::Commit() {
    if (!readable_) return false;
    std::string bytes;
    if (doc_->ini.Save(bytes) < 0) return false;
    return ReplaceFileAtomically(path_, bytes, ops_);
}
