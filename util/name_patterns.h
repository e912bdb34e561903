// Which file names of a folder are candidates for printing: shell patterns
// (fnmatch(3)) matched without regard to case, as a user types them in the
// profile, e.g. "*.jpg;*.png".
//
// A pattern list is text separated by ';'; each pattern is trimmed of white
// space, and empty ones are dropped. '*' and '?' match a leading '.' too:
// hidden files are left out by a pattern that says so (".*"). Not
// thread-safe to change; const use from several threads is safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

class NamePatterns {
  public:
    NamePatterns() = default;
    explicit NamePatterns(std::string_view list);

    // True when the list holds no pattern.
    bool Empty() const { return patterns_.empty(); }
    // True when some pattern matches name (a name within the folder, raw
    // bytes). False for an empty list.
    bool Matches(const std::string& name) const;
    const std::vector<std::string>& Patterns() const { return patterns_; }

  private:
    std::vector<std::string> patterns_;
};

// A name is a candidate when include is empty or matches it, and exclude does
// not match it.
bool IsCandidateName(const std::string& name, const NamePatterns& include,
                     const NamePatterns& exclude);

}  // namespace tallowin
