// A hot folder's own print settings: how many copies, on which media, from
// which tray, one or two sides, colour or grey, further options as `lp -o`
// takes them, how the picture is scaled, placed and turned, what happens to
// a file once printed or once it can never print, and which file names are
// candidates at all. Every one is optional: a folder without them prints as
// it always did (the printer's defaults, today's fit, the file deleted).
//
// Two forms. JobSettingsText is the keys as the profile holds them (each
// value as written, trimmed, "" when absent): what is stored and compared,
// kept as it is even when a value is wrong, so that a user's edit is never
// lost. JobSettings is what a job uses, read from the text by
// ParseJobSettings, which names every value that is wrong. Pure values; no
// system header.
#pragma once

#include <array>
#include <compare>
#include <optional>
#include <string>
#include <vector>

#include "engine/placement.h"
#include "util/name_patterns.h"
#include "util/option_text.h"

namespace tallowin {

struct JobSettingsText {
    std::string Copies;         // 1..999
    std::string Media;          // a media the printer offers, by its name or its size's name
    std::string Sides;          // one-sided, two-sided-long-edge, two-sided-short-edge
    std::string ColorMode;      // color, monochrome
    std::string Tray;           // a media source the printer offers
    std::string Options;        // further options, as `lp -o` takes them
    std::string Scaling;        // auto-fit (default), fit, fill, none
    std::string Position;       // top-left (default), top, ..., center, ..., bottom-right
    std::string Rotate;         // no (default), auto
    std::string AfterPrint;     // delete (default), move
    std::string PrintedFolder;  // where move puts printed files
    std::string KeptFolder;     // where files that can never print go; "" leaves them
    std::string Include;        // name patterns separated by ';'; "" takes every file
    std::string Exclude;        // name patterns separated by ';'; "" leaves none out

    auto operator<=>(const JobSettingsText&) const = default;
};

// The profile key of each field, in the order a new section lists them.
struct JobSettingsKey {
    const char* Key;
    std::string JobSettingsText::*Field;
};
inline constexpr std::array<JobSettingsKey, 14> kJobSettingsKeys = {{
    {"Copies", &JobSettingsText::Copies},
    {"Media", &JobSettingsText::Media},
    {"Sides", &JobSettingsText::Sides},
    {"ColorMode", &JobSettingsText::ColorMode},
    {"Tray", &JobSettingsText::Tray},
    {"Options", &JobSettingsText::Options},
    {"Scaling", &JobSettingsText::Scaling},
    {"Position", &JobSettingsText::Position},
    {"Rotate", &JobSettingsText::Rotate},
    {"AfterPrint", &JobSettingsText::AfterPrint},
    {"PrintedFolder", &JobSettingsText::PrintedFolder},
    {"KeptFolder", &JobSettingsText::KeptFolder},
    {"Include", &JobSettingsText::Include},
    {"Exclude", &JobSettingsText::Exclude},
}};

// What a folder made in the window starts with: the partial and temporary
// files of downloads, editors and copy programs, and hidden files.
inline constexpr const char* kNewFolderExclude = ".*;*.tmp;*.part;*.crdownload;~*";

enum class AfterPrint {
    Delete,  // the file is deleted once its job completed
    Move,    // the file moves to PrintedFolder once its job completed
};

struct JobSettings {
    std::optional<int> Copies;  // nullopt: the printer's default
    std::string Media;          // "": the printer's default
    std::string Sides;          // the IPP keyword, or "": the printer's default
    std::string ColorMode;      // print-color-mode's keyword, or ""
    std::string Tray;           // "": the printer's default
    std::vector<NamedValue> Options;
    Scaling Scale = Scaling::AutoFit;
    Position Place = Position::TopLeft;
    Rotation Turn = Rotation::No;
    AfterPrint After = AfterPrint::Delete;
    std::string PrintedFolder;  // as written; see ResolveSettingsFolder
    std::string KeptFolder;     // as written; "": files that cannot print stay
    NamePatterns Include;
    NamePatterns Exclude;

    // Whether a file of this name in the folder is a candidate for printing.
    bool IsCandidate(const std::string& name) const {
        return IsCandidateName(name, Include, Exclude);
    }
};

struct ParsedJobSettings {
    JobSettings Settings;  // the defaults in place of every wrong value
    // One line per wrong value: "Key=value: why" (e.g. "Copies=0: must be a
    // whole number from 1 to 999"). Empty when every value is right.
    std::vector<std::string> Problems;

    bool Ok() const { return Problems.empty(); }
    // The problems on one line, separated by "; ": what the window and the
    // log show for a folder that cannot start. Empty when Ok().
    std::string Reason() const;
};

// Reads every key of text. Keywords match without regard to ASCII case.
// A folder whose settings are not Ok() must print nothing: the settings
// would do something other than the user wrote. Given the hot folder's path,
// a PrintedFolder or KeptFolder that names the hot folder itself is wrong
// too (its files would come round again); the check is on the text of the
// paths, the integration compares the folders on disk.
ParsedJobSettings ParseJobSettings(const JobSettingsText& text,
                                   const std::string& hotFolderPath = "");

// The options the job carries on top of the printer's defaults, in order:
// the Options key's, then copies, media, sides, print-color-mode and
// media-source from their keys. A key that is set replaces the option of the
// same name (compared as CUPS compares names) in Options, and the PPD names
// for the same thing (PageSize, PageRegion and media-col for media, Duplex
// for sides, ColorModel and output-mode for print-color-mode, InputSlot for
// media-source), so that the key always wins.
std::vector<NamedValue> JobOptions(const JobSettings& settings);

// The folder a PrintedFolder or KeptFolder value names: an absolute path as
// it is, a relative one under the hot folder. "" for "".
std::string ResolveSettingsFolder(const std::string& hotFolderPath, const std::string& value);

}  // namespace tallowin
