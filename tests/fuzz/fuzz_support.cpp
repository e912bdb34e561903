#include "tests/fuzz/fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "util/unique_fd.h"

namespace tallowin::fuzz {

namespace {

[[noreturn]] void MachineFailed(const char* what, const std::string& path) {
    std::fprintf(stderr, "fuzz harness: %s %s: %s\n", what, path.c_str(), std::strerror(errno));
    std::abort();
}

}  // namespace

void PropertyFailed(const char* property, const std::string& detail) {
    std::fprintf(stderr, "\nPROPERTY FAILED: %s\n%s\n", property, detail.c_str());
    std::abort();
}

ScratchFolder::ScratchFolder(const char* name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/" + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) MachineFailed("cannot make", pattern);
    folder_ = buffer.data();
    file_ = folder_ + "/" + name;
}

ScratchFolder::~ScratchFolder() {
    Clear();
    ::rmdir(folder_.c_str());
}

void ScratchFolder::Clear() const {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder_.c_str()), ::closedir);
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    for (const std::string& name : names) ::unlink((folder_ + "/" + name).c_str());
}

void ScratchFolder::Write(const std::uint8_t* data, std::size_t size) const {
    Clear();
    UniqueFd fd(::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) MachineFailed("cannot make", file_);
    while (size > 0) {
        const ssize_t n = ::write(fd.get(), data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) MachineFailed("cannot write", file_);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    if (::close(fd.release()) != 0) MachineFailed("cannot write", file_);
}

}  // namespace tallowin::fuzz
