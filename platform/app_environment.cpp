#include "platform/app_environment.h"

#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

std::string FolderOfPath(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

std::string ApplicationFolder() {
    std::vector<char> buffer(4096);
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    return FolderOfPath(std::string(buffer.data(), static_cast<size_t>(n)));
}

std::string HelpFolder() {
    const std::string exeFolder = ApplicationFolder();
    const std::string installed =
        std::filesystem::path(exeFolder + "/../share/tallowin").lexically_normal().string();
    if (access((installed + "/readme.htm").c_str(), R_OK) == 0) return installed;
    return exeFolder;
}

std::string ProfilePath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* pw = getpwuid(getuid());
            home = pw != nullptr ? pw->pw_dir : "/";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/tallowin/tallowin.ini";
}

bool SocketsAvailable() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    close(fd);
    return true;
}
