// Job options written as `lp -o` takes them: "name=value" pairs separated by
// white space, read the way cupsParseOptions reads them, so that what a user
// copies from a working `lp` command line means the same here. Pure: no
// system header, no CUPS.
//
// Read as cupsParseOptions reads it:
// - a name runs up to white space or '='; white space may follow it;
// - a value runs up to white space; inside it, a backslash takes the next
//   character as it is, a part that starts with ' or " runs to the same
//   quote (the quotes are dropped, and white space inside stays), a part
//   that starts with '{' runs to its matching '}' (braces kept: a
//   collection);
// - a name without '=' is a switch: "name" is name=true, "noname" is
//   name=false;
// - the whole text may be wrapped in one pair of braces;
// - names match without regard to ASCII case; the last value of a name wins,
//   and the name keeps its first spelling and place.
//
// What cupsParseOptions would drop or cut short without a word is refused
// here, with the reason: a '=' with no name before it (CUPS ignores the rest
// of the text), a quote or a brace never closed (CUPS takes the rest of the
// text into the value), a name with no value ("media=", which CUPS sends as
// an empty value), and "no" alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

struct NamedValue {
    std::string Name;
    std::string Value;

    bool operator==(const NamedValue&) const = default;
};

struct OptionText {
    std::vector<NamedValue> Options;  // in the order each name first came; empty on failure
    std::string Error;                // empty on success; else why, in words for the user

    bool Ok() const { return Error.empty(); }
};

// Reads text (empty or blank: no option). Never throws but std::bad_alloc.
OptionText ParseOptionText(std::string_view text);

// Names of options as CUPS compares them: ASCII case ignored.
bool SameOptionName(std::string_view a, std::string_view b);

}  // namespace tallowin
