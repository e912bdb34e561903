#include "os/app_environment.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "util/paths.h"
#include "util/unique_fd.h"

namespace tallowin {

namespace {

// $XDG_<name> when it is an absolute path, else $HOME/<fallback>.
std::string XdgBase(const char* variable, const char* fallback) {
    const char* xdg = std::getenv(variable);
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* pw = getpwuid(getuid());
        home = pw != nullptr ? pw->pw_dir : "/";
    }
    return std::string(home) + "/" + fallback;
}

}  // namespace

std::string ApplicationFolder() {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    const std::string folder = FolderOf(std::string(buffer.data(), static_cast<size_t>(n)));
    return folder == "/" ? std::string() : folder;
}

std::string HelpFolder() {
    const std::string exeFolder = ApplicationFolder();
    const std::string installed =
        std::filesystem::path(exeFolder + "/../share/tallowin").lexically_normal().string();
    if (access((installed + "/readme.htm").c_str(), R_OK) == 0) return installed;
    return exeFolder;
}

std::string ProfilePath() {
    return XdgBase("XDG_CONFIG_HOME", ".config") + "/tallowin/tallowin.ini";
}

std::string StateDirectory() {
    return XdgBase("XDG_STATE_HOME", ".local/state") + "/tallowin";
}

Status MakePrivateFolder(const std::string& folder) {
    // Each folder from the top down; mkdir leaves existing ones alone.
    for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        const std::string part = folder.substr(0, at);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return Status::Failure(HF_ERR_STATE,
                                   "cannot make the folder " + part + ": " + std::strerror(errno));
        }
        if (at == std::string::npos) break;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Status::Failure(HF_ERR_STATE, folder + " is not a folder");
    }
    return Status::Success();
}

bool SocketsAvailable() {
    const UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return static_cast<bool>(fd);
}

}  // namespace tallowin
