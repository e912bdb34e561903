// Internal to the CUPS adapters: the one way to reach a destination (a
// bounded connect and lookup) and the one reader of its settings — the
// sheet with its margins, the resolution and the orientation, as the user's
// options (lpoptions, older spellings included) and the printer's defaults
// give them. The spooler prints by these readings and the printer catalogue
// shows them, so the page a job gets and the value the dialog calls current
// never disagree. Includes <cups/cups.h>: for cups/*.cpp only. Nothing here
// throws but std::bad_alloc; what was read over a connection is used by one
// thread at a time.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cups/internal/cups_common.h"
#include "engine/printer_condition.h"
#include "util/option_text.h"

namespace tallowin {

namespace cupsutil {

// A destination found over a bounded connection, with its attributes.
struct FoundDest {
    BoundedHttp Http;
    Dest Destination;
    DestInfo Info;

    DestContext Context() const { return {Http.get(), Destination.get(), Info.get()}; }
};

// Connects to the scheduler that cupsServer() names (see ConnectBounded: the
// connect and every request are bounded in time and by stop) and finds
// printerName ("queue" or "queue/instance"; an instance that lpoptions does
// not define is the plain queue, as for lp) with its options, the user's
// lpoptions included, and its attributes. Never browses the network: every
// request goes over the one bounded connection. Fails with HF_ERR_PRINTER
// when the name is malformed or the scheduler knows no such destination,
// HF_ERR_UNREACHABLE when the scheduler cannot be reached or heard (or stop
// was requested). On success the connection keeps watching stop; call
// Http.Guard->WatchNothing() before stop goes.
Result<FoundDest> ConnectAndFind(const std::string& printerName, const StopSignal& stop);

// Puts options (a hot folder's job options) on top of dest's own, the
// user's lpoptions included: each replaces the option of its name and the
// older names for the same thing (PageSize, PageRegion and media-col for
// media; Duplex for sides; ColorModel and output-mode for print-color-mode;
// InputSlot for media-source), so that the readers below and the job see
// them as the user's choice.
void LayerOptions(cups_dest_t* dest, const std::vector<NamedValue>& options);

// Whether the destination offers the media, the media source, the sides
// and the colour mode its options name (after LayerOptions, asked being
// the job's own options): the media by cupsGetDestMediaByName, or by its
// size among the printer's media as PrintedSheet finds it; the others by
// cupsCheckDestSupported, sides and colour mode only when asked names them
// and the printer lists its values. Fails with HF_ERR_SETTINGS naming the
// first it does not offer and printerName.
Status CheckOffered(const DestContext& c, const std::vector<NamedValue>& asked,
                    const std::string& printerName);

// Where the destination found over http stands now: printer-state,
// printer-state-reasons, printer-state-message and
// printer-is-accepting-jobs, asked with Get-Printer-Attributes over http
// (the destination's own options carry no message). Fails with
// HF_ERR_UNREACHABLE when the scheduler cannot be heard, HF_ERR_PRINTER
// when it refuses the request.
Result<PrinterCondition> ReadCondition(http_t* http, const RequestGuard& guard, cups_dest_t* dest);

// A sheet in 1/100 mm, as IPP gives it; a margin of -1 is one left out.
struct Media {
    int Width = 0, Length = 0;
    int Left = 0, Right = 0, Top = 0, Bottom = 0;

    bool Borderless() const { return Left == 0 && Right == 0 && Top == 0 && Bottom == 0; }
};

// The user's choice of sheet: the "media" option (a comma-separated list
// whose first entry that names a size counts; the others may name a type or
// a source), else the older "PageSize". A name counts as a size when libcups
// knows it (PWG, standard PPD or legacy name) or the queue's own PPD does.
struct UserSheet {
    std::string Text;             // the whole value that counts; empty: no choice
    std::string Entry;            // the entry of Text that names Size; empty when none does
    std::optional<Size> Sized;    // the size Entry stands for
    bool OnlyInQueuePpd = false;  // a name only the queue's PPD knows
};
UserSheet ReadUserSheet(const DestContext& c);

// The printer's default sheet: media-col-default when it gives a size, else
// the media-default name (and the size it stands for, when it names one).
struct DefaultSheet {
    std::optional<Media> Col;  // margins it leaves out are -1
    std::string Name;          // empty when there is none
    std::optional<Size> NameSize;
};
DefaultSheet ReadDefaultSheet(const DestContext& c);

// The entry of the printer's media database for a sheet of size s: the
// closest in size, one with margins rather than a borderless variant.
std::optional<Media> FromDatabase(const DestContext& c, Size s);

// The sheet the destination prints on, as the sheet lies (not turned): the
// user's choice looked up among the printer's media (a size it does not
// offer: nullopt), else the printer's default with its margins.
std::optional<Media> PrintedSheet(const DestContext& c);

// The user's resolution: "printer-resolution", else the older PPD-style
// "Resolution"; the first whose value reads as a resolution counts.
struct UserResolution {
    std::string Text;                 // the value that counts, else the first one given
    std::optional<Resolution> Value;  // as written (per cm when the user wrote so)
};
UserResolution ReadUserResolution(const DestContext& c);

// The resolution to print at, in dots per inch: the user's, else the
// printer's printer-resolution-default, else the first it supports.
std::optional<Resolution> PrintedResolution(const DestContext& c);

// The user's orientation: "orientation-requested" as a number or a keyword
// ("landscape"), else the older "landscape" option (any value but false,
// no, off) as IPP_ORIENT_LANDSCAPE.
struct UserOrientation {
    std::string Text;          // orientation-requested as given; empty when not
    std::optional<int> Value;  // an IPP enum value
};
UserOrientation ReadUserOrientation(const DestContext& c);

// The orientation to print in: the user's, else the printer's default,
// else IPP_ORIENT_PORTRAIT.
int PrintedOrientation(const DestContext& c);

}  // namespace cupsutil

}  // namespace tallowin
