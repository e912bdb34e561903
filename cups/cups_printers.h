// The printer catalogue on CUPS: the scheduler's printers as the printer
// panel sees them, their names, the settings a user may choose for each,
// and the user's own defaults (lpoptions). libcups 2.4.
#pragma once

#include <string>
#include <vector>

#include "engine/ports/printer_catalogue.h"

namespace tallowin {

// Stateless: every call connects to the scheduler anew, so the answers
// follow queues that come and go. No call waits unbounded: the connect
// gives up after 30 s and each request once the scheduler has been silent
// for 30 s, the same bounds as CupsSpooler's, and a destination is read
// with the same readers (cups/internal/destination.h). Never throws; may be
// called from any thread.
class CupsPrinterCatalogue final : public PrinterCatalogue {
  public:
    // The destinations of the scheduler that cupsServer() names ($CUPS_SERVER,
    // client.conf, or the local socket), in the order libcups enumerates them
    // (cupsGetDests2: by name, each queue followed by its instances). A queue
    // is listed by its name; an instance that the user's (or the system's)
    // lpoptions defines is listed as "queue/instance", the form CupsSpooler
    // opens, since it is a destination of its own with its own defaults. Queues
    // that the scheduler does not know are not listed, whatever lpoptions says.
    // Returns an empty list when the scheduler cannot be reached or has no
    // printers.
    std::vector<std::string> PrinterNames() override;

    // The settings of printer ("queue" or "queue/instance") that the user may
    // choose, in this order and only those for which the printer names at
    // least one supported value: media, orientation-requested,
    // print-color-mode, print-quality, printer-resolution, sides.
    //
    // Values are spelled as lpoptions stores them: media as PWG names
    // ("na_letter_8.5x11in"), the orientation and the quality as IPP enum
    // numbers ("4"), resolutions as "600dpi", "600x300dpi" or "118dpcm", the
    // rest as IPP keywords. They are what the printer supports (for media: its sizes, from its
    // media-col-database or media-supported, the same list CupsSpooler picks
    // sizes from, so that each value opens with a geometry). Labels come from
    // the printer's own localization through libcups when it has one (a PPD
    // queue's texts, an IPP printer's strings file), else from short English
    // names ("Paper size", "Landscape", "600 dpi"); a sheet without a name of
    // its own reads as libcups writes its size (`8.5 x 11 "`, "210 x 297 mm"),
    // and sheets whose labels would read alike get their value appended.
    //
    // Current is the user's value (the destination's options: lpoptions on top
    // of the scheduler's defaults), else the printer's default, else
    // "3" (portrait) for the orientation and the first value for the others.
    // The user's value counts in its older spellings too, as CupsSpooler reads
    // them: "PageSize" for media, "landscape" for the orientation, "Resolution"
    // for the resolution. A media name that is not one of the values counts as
    // the printer's size of the same dimensions ("Letter" is
    // "na_letter_8.5x11in"), and of a media list ("Glossy,Letter") the first
    // entry that names a size counts. A user's value that matches no supported
    // value (a size only the printer's PPD names, a media type alone, a size or
    // a resolution the printer lacks) is added to Values as it is, labelled
    // with itself, and is Current: leaving it selected keeps it.
    //
    // Returns an empty list when the name is empty or malformed, the scheduler
    // cannot be reached or does not know the printer. A raw queue (no driver)
    // offers little more than the orientation.
    std::vector<PrinterChoice> Choices(const std::string& printer) override;

    // Stores options as the user's defaults for printer ("queue" or
    // "queue/instance"), as `lpoptions -p printer -o name=value ...` does:
    // libcups rewrites the user's lpoptions (~/.cups/lpoptions), keeping the
    // user's other options and the other destinations' entries; a value
    // equal to the scheduler's own default is not written, so it falls back to
    // that default. An instance that lpoptions does not define yet is created
    // from its queue's options, as lpoptions does.
    // Unlike lpoptions, storing "media" also drops the user's "PageSize" and
    // "PageRegion", "orientation-requested" drops "landscape", and
    // "printer-resolution" drops "Resolution": those older spellings of the
    // same setting would otherwise keep overriding the new value for some
    // readers of lpoptions.
    // Returns true when lpoptions was written (also for an empty options list,
    // which rewrites it unchanged). Returns false, writing nothing, when the
    // name is empty or malformed, an option name is empty or holds a space, a
    // control character, '=', a quote or a backslash, a value holds a control
    // character other than a tab (either would break lpoptions' lines), the
    // scheduler cannot be reached or does not know the queue; false too when
    // lpoptions cannot be written. Two calls at once, from threads or processes, may
    // lose one another's change, as two lpoptions commands may.
    bool StoreUserDefaults(const std::string& printer, const PrinterOptions& options) override;

    // From the destinations' own printer-state, printer-state-reasons and
    // printer-is-accepting-jobs (no message: the list carries none).
    std::map<std::string, PrinterCondition> Conditions() override;
};

}  // namespace tallowin
