#include "engine/job_settings.h"

#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace tallowin {

namespace {

template <class T>
struct Keyword {
    std::string_view Word;
    T Value;
};

constexpr Keyword<Scaling> kScalings[] = {{"auto-fit", Scaling::AutoFit},
                                          {"fit", Scaling::Fit},
                                          {"fill", Scaling::Fill},
                                          {"none", Scaling::None}};
constexpr Keyword<Position> kPositions[] = {
    {"top-left", Position::TopLeft},        {"top", Position::Top},
    {"top-right", Position::TopRight},      {"left", Position::Left},
    {"center", Position::Center},           {"right", Position::Right},
    {"bottom-left", Position::BottomLeft},  {"bottom", Position::Bottom},
    {"bottom-right", Position::BottomRight}};
constexpr Keyword<Rotation> kRotations[] = {{"no", Rotation::No}, {"auto", Rotation::Auto}};
constexpr Keyword<AfterPrint> kAfterPrints[] = {{"delete", AfterPrint::Delete},
                                                {"move", AfterPrint::Move}};
constexpr Keyword<std::string_view> kSides[] = {{"one-sided", "one-sided"},
                                                {"two-sided-long-edge", "two-sided-long-edge"},
                                                {"two-sided-short-edge", "two-sided-short-edge"}};
constexpr Keyword<std::string_view> kColorModes[] = {{"color", "color"},
                                                     {"monochrome", "monochrome"}};

// Options that would scale, turn or move the page that the job already
// sends to size: the Scaling, Position and Rotate keys say that instead.
constexpr std::string_view kPlacedByTheFolder[] = {
    "print-scaling",   "fit-to-page", "scaling",
    "natural-scaling", "ppi",         "position",
    "number-up",       "landscape",   "orientation-requested",
    "mirror",          "page-left",   "page-right",
    "page-top",        "page-bottom"};

template <class T, size_t N>
std::string Words(const Keyword<T> (&words)[N]) {
    std::string out;
    for (size_t i = 0; i < N; ++i) {
        if (i > 0) out += i + 1 == N ? " or " : ", ";
        out += words[i].Word;
    }
    return out;
}

// The value of the keyword text names, or nullopt.
template <class T, size_t N>
std::optional<T> Find(const Keyword<T> (&words)[N], const std::string& text) {
    for (const Keyword<T>& k : words) {
        if (SameOptionName(k.Word, text)) return k.Value;
    }
    return std::nullopt;
}

bool HasSpace(const std::string& s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f') return true;
    }
    return false;
}

// The path without "." and ".." steps and without a trailing '/'.
std::string NormalFolder(const std::string& path) {
    std::string s = std::filesystem::path(path).lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

class Reader {
  public:
    explicit Reader(const JobSettingsText& text) : text_(text) {}

    void Problem(std::string_view key, const std::string& value, const std::string& why) {
        out_.Problems.push_back(std::string(key) + "=" + value + ": " + why);
    }

    template <class T, size_t N>
    void ReadKeyword(std::string_view key, const std::string& value, const Keyword<T> (&words)[N],
                     T& into) {
        if (value.empty()) return;
        if (const auto found = Find(words, value)) {
            into = *found;
        } else {
            Problem(key, value, "must be " + Words(words));
        }
    }

    void ReadCopies() {
        const std::string& v = text_.Copies;
        if (v.empty()) return;
        const bool digits = v.find_first_not_of("0123456789") == std::string::npos;
        // Past four digits it is out of range whatever it says.
        const int n = digits && v.size() <= 4 ? std::stoi(v) : 0;
        if (n < 1 || n > 999) {
            Problem("Copies", v, "must be a whole number from 1 to 999");
            return;
        }
        out_.Settings.Copies = n;
    }

    void ReadName(std::string_view key, const std::string& value, std::string& into) {
        if (value.empty()) return;
        if (HasSpace(value)) {
            Problem(key, value, "must be one name, without spaces");
            return;
        }
        into = value;
    }

    void ReadOptions() {
        const std::string& v = text_.Options;
        OptionText read = ParseOptionText(v);
        if (!read.Ok()) {
            Problem("Options", v, read.Error);
            return;
        }
        for (const NamedValue& option : read.Options) {
            for (const std::string_view placed : kPlacedByTheFolder) {
                if (SameOptionName(option.Name, placed)) {
                    Problem("Options", v,
                            option.Name +
                                " would change the page's size or place: Scaling, Position and "
                                "Rotate say how the picture is printed");
                    return;
                }
            }
        }
        out_.Settings.Options = std::move(read.Options);
    }

    void ReadFolders(const std::string& hotFolderPath) {
        JobSettings& s = out_.Settings;
        s.PrintedFolder = text_.PrintedFolder;
        s.KeptFolder = text_.KeptFolder;
        if (s.After == AfterPrint::Move && s.PrintedFolder.empty()) {
            Problem("AfterPrint", text_.AfterPrint, "needs a PrintedFolder to move files to");
        }
        if (hotFolderPath.empty()) return;
        const std::string hot = NormalFolder(hotFolderPath);
        const auto same = [&](const std::string& value) {
            return !value.empty() &&
                   NormalFolder(ResolveSettingsFolder(hotFolderPath, value)) == hot;
        };
        if (same(s.PrintedFolder)) {
            Problem("PrintedFolder", s.PrintedFolder, "is the hot folder itself");
        }
        if (same(s.KeptFolder)) Problem("KeptFolder", s.KeptFolder, "is the hot folder itself");
    }

    ParsedJobSettings Read(const std::string& hotFolderPath) {
        JobSettings& s = out_.Settings;
        ReadCopies();
        ReadName("Media", text_.Media, s.Media);
        std::string_view sides, color;
        ReadKeyword("Sides", text_.Sides, kSides, sides);
        s.Sides = sides;
        ReadKeyword("ColorMode", text_.ColorMode, kColorModes, color);
        s.ColorMode = color;
        ReadName("Tray", text_.Tray, s.Tray);
        ReadOptions();
        ReadKeyword("Scaling", text_.Scaling, kScalings, s.Scale);
        ReadKeyword("Position", text_.Position, kPositions, s.Place);
        ReadKeyword("Rotate", text_.Rotate, kRotations, s.Turn);
        ReadKeyword("AfterPrint", text_.AfterPrint, kAfterPrints, s.After);
        ReadFolders(hotFolderPath);
        s.Include = NamePatterns(text_.Include);
        s.Exclude = NamePatterns(text_.Exclude);
        return std::move(out_);
    }

  private:
    const JobSettingsText& text_;
    ParsedJobSettings out_;
};

// Drops from options every one named by one of names.
void Drop(std::vector<NamedValue>& options, std::initializer_list<std::string_view> names) {
    std::erase_if(options, [&](const NamedValue& option) {
        for (const std::string_view name : names) {
            if (SameOptionName(option.Name, name)) return true;
        }
        return false;
    });
}

}  // namespace

std::string ParsedJobSettings::Reason() const {
    std::string out;
    for (const std::string& problem : Problems) {
        if (!out.empty()) out += "; ";
        out += problem;
    }
    return out;
}

ParsedJobSettings ParseJobSettings(const JobSettingsText& text, const std::string& hotFolderPath) {
    return Reader(text).Read(hotFolderPath);
}

std::vector<NamedValue> JobOptions(const JobSettings& s) {
    std::vector<NamedValue> out = s.Options;
    if (s.Copies) {
        Drop(out, {"copies"});
        out.push_back({"copies", std::to_string(*s.Copies)});
    }
    if (!s.Media.empty()) {
        Drop(out, {"media", "PageSize", "PageRegion", "media-col"});
        out.push_back({"media", s.Media});
    }
    if (!s.Sides.empty()) {
        Drop(out, {"sides", "Duplex"});
        out.push_back({"sides", s.Sides});
    }
    if (!s.ColorMode.empty()) {
        Drop(out, {"print-color-mode", "ColorModel", "output-mode"});
        out.push_back({"print-color-mode", s.ColorMode});
    }
    if (!s.Tray.empty()) {
        Drop(out, {"media-source", "InputSlot"});
        out.push_back({"media-source", s.Tray});
    }
    return out;
}

std::string ResolveSettingsFolder(const std::string& hotFolderPath, const std::string& value) {
    if (value.empty() || value.front() == '/') return value;
    if (hotFolderPath.empty() || hotFolderPath.back() == '/') return hotFolderPath + value;
    return hotFolderPath + "/" + value;
}

}  // namespace tallowin
