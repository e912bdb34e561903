#include "util/name_patterns.h"

#include <fnmatch.h>

namespace tallowin {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

NamePatterns::NamePatterns(std::string_view list) {
    while (true) {
        const size_t semicolon = list.find(';');
        const std::string_view pattern = Trim(list.substr(0, semicolon));
        if (!pattern.empty()) patterns_.emplace_back(pattern);
        if (semicolon == std::string_view::npos) break;
        list.remove_prefix(semicolon + 1);
    }
}

bool NamePatterns::Matches(const std::string& name) const {
    for (const std::string& pattern : patterns_) {
        if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
    }
    return false;
}

bool IsCandidateName(const std::string& name, const NamePatterns& include,
                     const NamePatterns& exclude) {
    return (include.Empty() || include.Matches(name)) && !exclude.Matches(name);
}

}  // namespace tallowin
