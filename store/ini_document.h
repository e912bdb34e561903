// An INI text kept line by line, so that a save changes only the lines whose
// values changed: line ends, blank lines, comments, spacing and the order of
// everything else stay exactly as the user or another program left them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

// Sections are "[name]" lines; keys are "key=value" lines in the section
// above them; lines starting with ';' or '#' are comments. Names match
// without regard to ASCII case and are trimmed, as are values. When a name
// occurs twice, the first occurrence is the one read and written.
class IniDocument {
  public:
    IniDocument() = default;
    explicit IniDocument(std::string_view text);

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Replaces the value in its line, keeping the line's key and spacing; a
    // new key goes after the last non-blank line of its section, a new
    // section at the end, both with the text's own line end. Setting the
    // value a key already has changes nothing.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes every section of that name, with its lines.
    void RemoveSection(std::string_view section);
    // The section names as first written, in the order of the text.
    std::vector<std::string> SectionNames() const;
    std::string Text() const;

  private:
    struct Line {
        std::string Text;  // without the line end
        std::string End;   // "\r\n", "\n", "\r" or "" for a last line without one
    };
    // [begin, end) line ranges of the sections of that name, header included.
    std::vector<std::pair<size_t, size_t>> Sections(std::string_view section) const;
    void EndLine(size_t at);  // gives the line a line end when it has none

    std::vector<Line> lines_;
    std::string lineEnd_ = "\n";  // the first line end of the text
};

}  // namespace tallowin
