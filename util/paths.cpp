#include "util/paths.h"

#include <string>

namespace tallowin {

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string DocumentName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string NumberedName(const std::string& name, int n) {
    if (n == 1) return name;
    const auto dot = name.rfind('.');
    const size_t stem = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, stem) + " (" + std::to_string(n) + ")" + name.substr(stem);
}

}  // namespace tallowin
