#include "cups/cups_printers.h"

#include <cups/cups.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "cups/internal/cups_common.h"
#include "cups/internal/destination.h"

namespace tallowin {

namespace {

using cupsutil::DestContext;
using cupsutil::DestName;
using cupsutil::ParsePositive;
using cupsutil::Resolution;
using cupsutil::UserOption;

// The destinations libcups lists: the scheduler's queues with the
// lpoptions files' instances and options applied.
class DestList {
  public:
    explicit DestList(http_t* http) { count_ = cupsGetDests2(http, &dests_); }
    DestList(const DestList&) = delete;
    DestList& operator=(const DestList&) = delete;
    ~DestList() { cupsFreeDests(count_, dests_); }

    int Count() const { return count_; }
    cups_dest_t* Get() const { return dests_; }
    const cups_dest_t& operator[](int i) const { return dests_[i]; }

    // The destination, or null; instance empty for the queue itself.
    cups_dest_t* Find(const std::string& queue, const std::string& instance) const {
        return cupsGetDest(queue.c_str(), instance.empty() ? nullptr : instance.c_str(), count_,
                           dests_);
    }
    // Adds an instance with a copy of its queue's options. Invalidates
    // every pointer Find returned.
    void AddInstance(const std::string& queue, const std::string& instance) {
        count_ = cupsAddDest(queue.c_str(), instance.c_str(), count_, &dests_);
    }

  private:
    int count_ = 0;
    cups_dest_t* dests_ = nullptr;
};

// --- Values as lpoptions stores them -------------------------------------

std::string ResolutionValue(const Resolution& r) {
    std::string value = std::to_string(r.X);
    if (r.Y != r.X) {
        value += 'x';
        value += std::to_string(r.Y);
    }
    return value + (r.PerCm ? "dpcm" : "dpi");
}

// Value i of attr as lpoptions writes it; empty for a value that no option
// can carry (an out-of-band value, a collection, a range).
std::string ValueString(ipp_attribute_t* attr, int i) {
    switch (ippGetValueTag(attr)) {
        case IPP_TAG_KEYWORD:
        case IPP_TAG_NAME:
        case IPP_TAG_NAMELANG:
        case IPP_TAG_TEXT:
        case IPP_TAG_TEXTLANG: {
            const char* s = ippGetString(attr, i, nullptr);
            return s != nullptr ? s : "";
        }
        case IPP_TAG_ENUM:
        case IPP_TAG_INTEGER:
            return std::to_string(ippGetInteger(attr, i));
        case IPP_TAG_RESOLUTION: {
            const std::optional<Resolution> r = cupsutil::ResolutionAt(attr, i);
            return r ? ResolutionValue(*r) : std::string();
        }
        default:
            return {};
    }
}

// An IPP enum as ValueString writes it: its number.
std::string EnumNumber(int value) {
    return std::to_string(value);
}

// The user's value for option in the form ValueString gives, read as
// CupsSpooler reads it (cupsutil's readers, older spellings included):
// enums as their numbers, resolutions written the one way. A value that
// cannot be read is given as it is, so that leaving it selected keeps it.
std::optional<std::string> UserValue(const DestContext& c, const std::string& option) {
    if (option == "orientation-requested") {
        const cupsutil::UserOrientation user = cupsutil::ReadUserOrientation(c);
        if (user.Value) return std::to_string(*user.Value);
        if (!user.Text.empty()) return user.Text;
        return std::nullopt;
    }
    if (option == "printer-resolution") {
        const cupsutil::UserResolution user = cupsutil::ReadUserResolution(c);
        if (user.Value) return ResolutionValue(*user.Value);
        if (!user.Text.empty()) return user.Text;
        return std::nullopt;
    }
    const char* user = UserOption(c, option.c_str());
    if (user == nullptr || *user == '\0') return std::nullopt;
    const std::string value = user;
    if (option == "print-quality" && !ParsePositive(value)) {
        if (const int number = ippEnumValue(option.c_str(), user); number > 0) {
            return std::to_string(number);
        }
    }
    return value;
}

// --- Labels ----------------------------------------------------------------

struct Named {
    const char* Key;
    const char* Label;
};

constexpr Named kOptionLabels[] = {
    {"media", "Paper size"},
    {"orientation-requested", "Orientation"},
    {"print-color-mode", "Color mode"},
    {"print-quality", "Print quality"},
    {"printer-resolution", "Resolution"},
    {"sides", "Two-sided printing"},
    {"media-source", "Paper source"},
};

// "option.value", as the printers' strings files key them.
constexpr Named kValueLabels[] = {
    {"print-color-mode.auto", "Automatic"},
    {"print-color-mode.auto-monochrome", "Automatic monochrome"},
    {"print-color-mode.bi-level", "Black and white"},
    {"print-color-mode.color", "Color"},
    {"print-color-mode.highlight", "Highlight color"},
    {"print-color-mode.monochrome", "Grayscale"},
    {"print-color-mode.process-bi-level", "Process black and white"},
    {"print-color-mode.process-monochrome", "Process grayscale"},
    {"sides.one-sided", "One-sided"},
    {"sides.two-sided-long-edge", "Two-sided, long edge"},
    {"sides.two-sided-short-edge", "Two-sided, short edge"},
};

// The enums' values, which the printer and lpoptions give as numbers.
struct NamedEnum {
    const char* Option;
    int Value;
    const char* Label;
};

constexpr NamedEnum kEnumLabels[] = {
    {"orientation-requested", IPP_ORIENT_PORTRAIT, "Portrait"},
    {"orientation-requested", IPP_ORIENT_LANDSCAPE, "Landscape"},
    {"orientation-requested", IPP_ORIENT_REVERSE_LANDSCAPE, "Reverse landscape"},
    {"orientation-requested", IPP_ORIENT_REVERSE_PORTRAIT, "Reverse portrait"},
    {"print-quality", IPP_QUALITY_DRAFT, "Draft"},
    {"print-quality", IPP_QUALITY_NORMAL, "Normal"},
    {"print-quality", IPP_QUALITY_HIGH, "High"},
};

const char* EnumLabel(const char* option, const std::string& value) {
    const std::optional<int> number = ParsePositive(value);
    if (!number) return nullptr;
    for (const NamedEnum& e : kEnumLabels) {
        if (e.Value == *number && std::strcmp(option, e.Option) == 0) return e.Label;
    }
    return nullptr;
}

const char* Lookup(const Named* table, std::size_t size, const std::string& key) {
    for (std::size_t i = 0; i < size; ++i) {
        if (key == table[i].Key) return table[i].Label;
    }
    return nullptr;
}

// "two-sided-long-edge" -> "Two sided long edge".
std::string Readable(std::string keyword) {
    for (char& ch : keyword) {
        if (ch == '-' || ch == '_') ch = ' ';
    }
    if (!keyword.empty() && keyword[0] >= 'a' && keyword[0] <= 'z') keyword[0] -= 'a' - 'A';
    return keyword;
}

std::string OptionLabel(const DestContext& c, const char* option) {
    const char* localized = cupsLocalizeDestOption(c.Http, c.Dest, c.Info, option);
    // libcups hands the name back when the printer has no text for it.
    if (localized != nullptr && *localized != '\0' && std::strcmp(localized, option) != 0) {
        return localized;
    }
    const char* label = Lookup(kOptionLabels, std::size(kOptionLabels), option);
    return label != nullptr ? label : Readable(option);
}

std::string ValueLabel(const DestContext& c, const char* option, const std::string& value) {
    const char* localized = cupsLocalizeDestValue(c.Http, c.Dest, c.Info, option, value.c_str());
    if (localized != nullptr && *localized != '\0' && value != localized) return localized;
    if (const char* label = EnumLabel(option, value)) return label;
    if (const char* label =
            Lookup(kValueLabels, std::size(kValueLabels), std::string(option) + "." + value)) {
        return label;
    }
    if (std::strcmp(option, "printer-resolution") == 0) {
        if (const auto r = cupsutil::ParseResolution(value)) {
            std::string label = std::to_string(r->X);
            if (r->Y != r->X) label += " x " + std::to_string(r->Y);
            return label + (r->PerCm ? " dots/cm" : " dpi");
        }
    }
    if (const auto number = ParsePositive(value)) {
        if (const char* keyword = ippEnumString(option, *number);
            keyword != nullptr && std::strcmp(keyword, value.c_str()) != 0) {
            return Readable(keyword);
        }
    }
    return Readable(value);
}

// --- Choosing the current value ------------------------------------------

bool Contains(const PrinterChoice& choice, const std::string& value) {
    for (const auto& [v, label] : choice.Values) {
        if (v == value) return true;
    }
    return false;
}

// Makes value Current: one of the values as it is, or else an extra value
// of its own, so that leaving it selected keeps it.
void SetCurrent(PrinterChoice& choice, const std::string& value) {
    if (!Contains(choice, value)) choice.Values.emplace_back(value, value);
    choice.Current = value;
}

// The printer's default for option as a value, if it offers one of Values.
std::optional<std::string> PrinterDefault(const DestContext& c, const PrinterChoice& choice) {
    ipp_attribute_t* attr = cupsFindDestDefault(c.Http, c.Dest, c.Info, choice.Option.c_str());
    if (attr == nullptr || ippGetCount(attr) < 1) return std::nullopt;
    const std::string value = ValueString(attr, 0);
    if (value.empty() || !Contains(choice, value)) return std::nullopt;
    return value;
}

// Options whose supported values are listed in the printer's
// <option>-supported attribute.
std::optional<PrinterChoice> ReadListed(const DestContext& c, const char* option) {
    PrinterChoice choice;
    choice.Option = option;
    ipp_attribute_t* supported = cupsFindDestSupported(c.Http, c.Dest, c.Info, option);
    const int count = supported != nullptr ? ippGetCount(supported) : 0;
    for (int i = 0; i < count; ++i) {
        const std::string value = ValueString(supported, i);
        if (!value.empty() && !Contains(choice, value)) {
            choice.Values.emplace_back(value, ValueLabel(c, option, value));
        }
    }
    if (choice.Values.empty()) return std::nullopt;
    choice.Label = OptionLabel(c, option);

    std::optional<std::string> value = UserValue(c, choice.Option);
    if (!value) value = PrinterDefault(c, choice);
    if (!value && choice.Option == "orientation-requested") {
        if (const std::string portrait = EnumNumber(IPP_ORIENT_PORTRAIT);
            Contains(choice, portrait)) {
            value = portrait;
        }
    }
    SetCurrent(choice, value.value_or(choice.Values.front().first));
    return choice;
}

// --- Media ---------------------------------------------------------------

struct Sheet {
    std::string Name;  // PWG name
    int Width = 0, Length = 0;
    bool Borderless = false;  // the entry its label was taken from has no margins
};

bool SameSize(const Sheet& s, cupsutil::Size size) {
    return cupsutil::SameSize(cupsutil::Size{s.Width, s.Length}, size);
}

// The value among sheets for a media name: the name itself, or a sheet of
// the size it stands for.
std::optional<std::string> MatchSheet(const std::vector<Sheet>& sheets, const std::string& name,
                                      const std::optional<cupsutil::Size>& size) {
    for (const Sheet& s : sheets) {
        if (s.Name == name) return s.Name;
    }
    if (!size) return std::nullopt;
    for (const Sheet& s : sheets) {
        if (SameSize(s, *size)) return s.Name;
    }
    return std::nullopt;
}

// The value for the user's sheet as CupsSpooler prints on it: that sheet
// when the printer has it. Else the user's text as it is, when it names a
// size only the queue's PPD knows, a size the printer lacks, or no size at
// all (a media type alone).
std::optional<std::string> UserSheet(const DestContext& c, const std::vector<Sheet>& sheets) {
    const cupsutil::UserSheet user = cupsutil::ReadUserSheet(c);
    if (user.Sized && !user.OnlyInQueuePpd) {
        if (auto match = MatchSheet(sheets, user.Entry, user.Sized)) return match;
    }
    if (!user.Text.empty()) return user.Text;
    return std::nullopt;
}

// The printer's default sheet among sheets: media-col-default by size (what
// CupsSpooler prints on), else media-default by name.
std::optional<std::string> DefaultSheet(const DestContext& c, const std::vector<Sheet>& sheets) {
    const cupsutil::DefaultSheet printer = cupsutil::ReadDefaultSheet(c);
    if (printer.Col) {
        const cupsutil::Size size{printer.Col->Width, printer.Col->Length};
        for (const Sheet& s : sheets) {
            if (SameSize(s, size)) return s.Name;
        }
    }
    if (printer.Name.empty()) return std::nullopt;
    return MatchSheet(sheets, printer.Name, printer.NameSize);
}

// The sizes are the printer's media database (what CupsSpooler looks a
// chosen size up in), each name once, in libcups' order (by size).
std::optional<PrinterChoice> ReadMedia(const DestContext& c) {
    PrinterChoice choice;
    choice.Option = "media";
    std::vector<Sheet> sheets;
    for (cups_size_t& entry : cupsutil::MediaDatabase(c)) {
        if (entry.media[0] == '\0' || entry.width <= 0 || entry.length <= 0) continue;
        const bool noMargins =
            entry.left == 0 && entry.right == 0 && entry.top == 0 && entry.bottom == 0;
        const char* localized =
            cupsLocalizeDestMedia(c.Http, c.Dest, c.Info, CUPS_MEDIA_FLAGS_DEFAULT, &entry);
        const std::string label =
            localized != nullptr && *localized != '\0' ? localized : entry.media;
        std::size_t k = 0;
        while (k < sheets.size() && sheets[k].Name != entry.media) ++k;
        if (k == sheets.size()) {
            sheets.push_back(Sheet{entry.media, entry.width, entry.length, noMargins});
            choice.Values.emplace_back(entry.media, label);
        } else if (sheets[k].Borderless && !noMargins) {
            // The sheet prints with its margins (CupsSpooler prefers that
            // entry), so its label should not say borderless.
            sheets[k].Borderless = false;
            choice.Values[k].second = label;
        }
    }
    if (choice.Values.empty()) return std::nullopt;
    choice.Label = OptionLabel(c, "media");
    // Sheets of one size under different names would look alike: such
    // labels get the name too.
    std::vector<bool> shared(choice.Values.size(), false);
    for (std::size_t i = 0; i < choice.Values.size(); ++i) {
        for (std::size_t k = i + 1; k < choice.Values.size(); ++k) {
            if (choice.Values[i].second == choice.Values[k].second) shared[i] = shared[k] = true;
        }
    }
    for (std::size_t i = 0; i < choice.Values.size(); ++i) {
        if (shared[i]) choice.Values[i].second += " (" + choice.Values[i].first + ")";
    }

    std::optional<std::string> value = UserSheet(c, sheets);
    if (!value) value = DefaultSheet(c, sheets);
    SetCurrent(choice, value.value_or(choice.Values.front().first));
    return choice;
}

// lpoptions is a text file of "name=value" words on one line per
// destination; libcups quotes spaces in values but nothing else.
bool StorableName(const std::string& name) {
    return !name.empty() && std::none_of(name.begin(), name.end(), [](unsigned char ch) {
        return ch <= ' ' || ch == 0x7F || ch == '=' || ch == '\'' || ch == '"' || ch == '\\';
    });
}

bool StorableValue(const std::string& value) {
    return std::none_of(value.begin(), value.end(),
                        [](unsigned char ch) { return (ch < ' ' && ch != '\t') || ch == 0x7F; });
}

// The older spellings that storing option drops.
std::vector<const char*> Synonyms(const std::string& option) {
    if (option == "media") return {"PageSize", "PageRegion"};
    if (option == "orientation-requested") return {"landscape"};
    if (option == "printer-resolution") return {"Resolution"};
    return {};
}

}  // namespace

std::vector<std::string> CupsPrinterCatalogue::PrinterNames() {
    try {
        const NeverStop never;
        const Result<cupsutil::BoundedHttp> http = cupsutil::ConnectBounded(never);
        if (!http.Ok()) return {};
        DestList dests(http.Value.get());
        std::vector<std::string> names;
        names.reserve(static_cast<std::size_t>(dests.Count()));
        for (int i = 0; i < dests.Count(); ++i) {
            std::string name = dests[i].name;
            if (dests[i].instance != nullptr) name += std::string("/") + dests[i].instance;
            names.push_back(std::move(name));
        }
        return names;
    } catch (...) {
        return {};  // std::bad_alloc
    }
}

std::map<std::string, PrinterCondition> CupsPrinterCatalogue::Conditions() {
    try {
        const NeverStop never;
        const Result<cupsutil::BoundedHttp> http = cupsutil::ConnectBounded(never);
        if (!http.Ok()) return {};
        DestList dests(http.Value.get());
        std::map<std::string, PrinterCondition> conditions;
        for (int i = 0; i < dests.Count(); ++i) {
            const cups_dest_t& d = dests[i];
            const auto option = [&](const char* name) {
                const char* value = cupsGetOption(name, d.num_options, d.options);
                return std::string(value == nullptr ? "" : value);
            };
            if (option("printer-state").empty()) continue;
            PrinterCondition c;
            const std::string state = option("printer-state");
            c.Now = state == "5"   ? PrinterCondition::State::Stopped
                    : state == "4" ? PrinterCondition::State::Processing
                                   : PrinterCondition::State::Idle;
            c.Reasons = cupsutil::ListEntries(option("printer-state-reasons"));
            c.Accepting = option("printer-is-accepting-jobs") != "false";
            std::string name = d.name;
            if (d.instance != nullptr) name += std::string("/") + d.instance;
            conditions.emplace(std::move(name), std::move(c));
        }
        return conditions;
    } catch (...) {
        return {};  // std::bad_alloc
    }
}

std::vector<PrinterChoice> CupsPrinterCatalogue::Choices(const std::string& printer) {
    try {
        const NeverStop never;
        const Result<cupsutil::FoundDest> dest = cupsutil::ConnectAndFind(printer, never);
        if (!dest.Ok()) return {};
        const DestContext c = dest.Value.Context();

        std::vector<PrinterChoice> choices;
        if (auto media = ReadMedia(c)) choices.push_back(std::move(*media));
        for (const char* option : {"orientation-requested", "print-color-mode", "print-quality",
                                   "printer-resolution", "sides", "media-source"}) {
            if (auto choice = ReadListed(c, option)) choices.push_back(std::move(*choice));
        }
        return choices;
    } catch (...) {
        return {};  // std::bad_alloc
    }
}

bool CupsPrinterCatalogue::StoreUserDefaults(const std::string& printer,
                                             const PrinterOptions& options) {
    try {
        const std::optional<DestName> name = cupsutil::SplitName(printer);
        if (!name) return false;
        for (const auto& [option, value] : options) {
            if (!StorableName(option) || !StorableValue(value)) return false;
        }
        const NeverStop never;
        const Result<cupsutil::BoundedHttp> http = cupsutil::ConnectBounded(never);
        if (!http.Ok()) return false;
        DestList dests(http.Value.get());
        if (dests.Find(name->Queue, {}) == nullptr) return false;
        if (dests.Find(name->Queue, name->Instance) == nullptr) {
            dests.AddInstance(name->Queue, name->Instance);
        }
        cups_dest_t* dest = dests.Find(name->Queue, name->Instance);
        if (dest == nullptr) return false;
        for (const auto& [option, value] : options) {
            for (const char* synonym : Synonyms(option)) {
                dest->num_options = cupsRemoveOption(synonym, dest->num_options, &dest->options);
            }
            dest->num_options =
                cupsAddOption(option.c_str(), value.c_str(), dest->num_options, &dest->options);
        }
        return cupsSetDests2(http.Value.get(), dests.Count(), dests.Get()) == 0;
    } catch (...) {
        return false;  // std::bad_alloc
    }
}

}  // namespace tallowin
