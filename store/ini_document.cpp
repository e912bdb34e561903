#include "store/ini_document.h"

#include <algorithm>

namespace tallowin {

namespace {

constexpr std::string_view kSpace = " \t\r\n\v\f";

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// The name of a "[name]" line.
std::optional<std::string_view> SectionOf(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view Key;
    size_t ValueAt;  // where the value starts, after '=' and the blanks after it
};

std::optional<KeyLine> KeyOf(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#' ||
        trimmed.front() == '[') {
        return std::nullopt;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) return std::nullopt;
    size_t valueAt = equals + 1;
    while (valueAt < line.size() && (line[valueAt] == ' ' || line[valueAt] == '\t')) ++valueAt;
    return KeyLine{key, valueAt};
}

bool IsBlank(const std::string& line) {
    return Trim(line).empty();
}

}  // namespace

IniDocument::IniDocument(std::string_view text) {
    bool endSeen = false;
    while (!text.empty()) {
        // CRLF, LF, or the old Macintosh CR alone.
        const size_t at = text.find_first_of("\r\n");
        Line line;
        line.Text = std::string(text.substr(0, at));
        if (at == std::string_view::npos) {
            text = {};
        } else {
            const bool crlf = text.substr(at, 2) == "\r\n";
            line.End = crlf ? "\r\n" : std::string(1, text[at]);
            text.remove_prefix(at + line.End.size());
            if (!endSeen) lineEnd_ = line.End;
            endSeen = true;
        }
        lines_.push_back(std::move(line));
    }
}

std::vector<std::pair<size_t, size_t>> IniDocument::Sections(std::string_view section) const {
    std::vector<std::pair<size_t, size_t>> ranges;
    // Lines above the first header belong to the section without a name.
    bool inside = section.empty();
    if (inside) ranges.emplace_back(0, lines_.size());
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionOf(lines_[i].Text);
        if (!name) continue;
        if (inside) ranges.back().second = i;
        inside = SameName(*name, section);
        if (inside) ranges.emplace_back(i, lines_.size());
    }
    return ranges;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    for (const auto& [begin, end] : Sections(section)) {
        for (size_t i = begin; i < end; ++i) {
            const std::string_view text = lines_[i].Text;
            const auto found = KeyOf(text);
            if (found && SameName(found->Key, key))
                return std::string(Trim(text.substr(found->ValueAt)));
        }
    }
    return std::nullopt;
}

void IniDocument::EndLine(size_t at) {
    if (lines_[at].End.empty()) lines_[at].End = lineEnd_;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const auto ranges = Sections(section);
    for (const auto& [begin, end] : ranges) {
        for (size_t i = begin; i < end; ++i) {
            std::string& text = lines_[i].Text;
            const auto found = KeyOf(text);
            if (!found || !SameName(found->Key, key)) continue;
            if (Trim(std::string_view(text).substr(found->ValueAt)) == value) return;
            text = text.substr(0, found->ValueAt) + std::string(value);
            return;
        }
    }
    Line added{std::string(key) + "=" + std::string(value), lineEnd_};
    if (ranges.empty()) {
        if (!lines_.empty()) EndLine(lines_.size() - 1);
        std::string header = "[";
        header += section;
        header += ']';
        lines_.push_back({std::move(header), lineEnd_});
        lines_.push_back(std::move(added));
        return;
    }
    // After the section's last non-blank line, so that the blank lines
    // between it and the next section stay between them.
    size_t at = ranges.front().second;
    while (at > ranges.front().first + 1 && IsBlank(lines_[at - 1].Text)) --at;
    if (at > 0) EndLine(at - 1);
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(added));
}

void IniDocument::RemoveSection(std::string_view section) {
    const auto ranges = Sections(section);
    if (ranges.empty()) return;
    // Marked first and removed in one pass: ranges of the same name may lie
    // next to each other, and the blank lines taken along below may belong
    // to the range above.
    std::vector<bool> removed(lines_.size(), false);
    for (const auto& [begin, end] : ranges) {
        std::fill(removed.begin() + static_cast<std::ptrdiff_t>(begin),
                  removed.begin() + static_cast<std::ptrdiff_t>(end), true);
    }
    // A section at the very end takes the blank lines above it along, so
    // that removing it leaves no trailing blank lines behind.
    if (ranges.back().second == lines_.size()) {
        for (size_t i = ranges.back().first; i > 0; --i) {
            if (!removed[i - 1] && !IsBlank(lines_[i - 1].Text)) break;
            removed[i - 1] = true;
        }
    }
    std::vector<Line> kept;
    kept.reserve(lines_.size());
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (!removed[i]) kept.push_back(std::move(lines_[i]));
    }
    lines_ = std::move(kept);
}

std::vector<std::string> IniDocument::SectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        const auto name = SectionOf(line.Text);
        if (!name) continue;
        const bool seen = std::any_of(names.begin(), names.end(),
                                      [&](const std::string& n) { return SameName(n, *name); });
        if (!seen) names.emplace_back(*name);
    }
    return names;
}

std::string IniDocument::Text() const {
    std::string text;
    for (const Line& line : lines_) text += line.Text + line.End;
    return text;
}

}  // namespace tallowin
