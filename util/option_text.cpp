#include "util/option_text.h"

#include <cstring>

namespace tallowin {

namespace {

// The white space of cupsParseOptions: the C locale's, NUL excluded.
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

void Add(std::vector<NamedValue>& options, std::string name, std::string value) {
    for (NamedValue& option : options) {
        if (SameOptionName(option.Name, name)) {
            option.Value = std::move(value);
            return;
        }
    }
    options.push_back({std::move(name), std::move(value)});
}

std::string At(size_t index) {
    return "at character " + std::to_string(index + 1);
}

// Reads the text between begin and end of s; false with why on the first
// fault.
bool Parse(const std::string& s, size_t i, const size_t end, std::vector<NamedValue>& options,
           std::string& why) {
    const auto skipSpace = [&] {
        while (i < end && IsSpace(s[i])) ++i;
    };
    skipSpace();
    while (i < end) {
        const size_t nameStart = i;
        while (i < end && !IsSpace(s[i]) && s[i] != '=') ++i;
        if (i == nameStart) {
            why = "a value has no option name before its '=' " + At(i);
            return false;
        }
        std::string name = s.substr(nameStart, i - nameStart);
        skipSpace();
        if (i >= end || s[i] != '=') {
            // A switch: "name" or "noname".
            if (name.size() >= 2 && Lower(name[0]) == 'n' && Lower(name[1]) == 'o') {
                if (name.size() == 2) {
                    why = "\"" + name + "\" " + At(nameStart) + " names no option to turn off";
                    return false;
                }
                Add(options, name.substr(2), "false");
            } else {
                Add(options, std::move(name), "true");
            }
            continue;
        }
        ++i;  // the '='
        std::string value;
        while (i < end && !IsSpace(s[i])) {
            const char c = s[i];
            if (c == ',') {
                value += c;
                ++i;
            } else if (c == '\'' || c == '"') {
                const size_t open = i++;
                while (i < end && s[i] != c) {
                    if (s[i] == '\\' && i + 1 < end) ++i;
                    value += s[i++];
                }
                if (i >= end) {
                    why = std::string("the quote ") + c + " " + At(open) + " is not closed";
                    return false;
                }
                ++i;  // the closing quote
            } else if (c == '{') {
                const size_t open = i;
                int depth = 0;
                for (; i < end; ++i) {
                    if (s[i] == '{') {
                        ++depth;
                    } else if (s[i] == '}') {
                        if (--depth == 0) {
                            value += s[i++];
                            break;
                        }
                    } else if (s[i] == '\\' && i + 1 < end) {
                        ++i;
                    }
                    value += s[i];
                }
                if (depth != 0) {
                    why = "the brace " + At(open) + " is not closed";
                    return false;
                }
            } else {
                while (i < end && !IsSpace(s[i])) {
                    if (s[i] == '\\' && i + 1 < end) ++i;
                    value += s[i++];
                }
            }
        }
        if (value.empty()) {
            why = "the option " + name + " has no value";
            return false;
        }
        skipSpace();
        Add(options, std::move(name), std::move(value));
    }
    return true;
}

}  // namespace

bool SameOptionName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

OptionText ParseOptionText(std::string_view text) {
    // CUPS reads a C string: it ends at the first NUL.
    const std::string s(text.substr(0, text.find('\0')));
    size_t begin = 0, end = s.size();
    if (!s.empty() && s.front() == '{') {
        if (s.size() < 2 || s.back() != '}') return {{}, "the brace at character 1 is not closed"};
        begin = 1;
        end = s.size() - 1;
    }
    OptionText out;
    if (!Parse(s, begin, end, out.Options, out.Error)) out.Options.clear();
    return out;
}

}  // namespace tallowin
