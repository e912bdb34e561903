// The printers the user can pick from and the printing defaults the user may
// change for each: what the main window's printer panel, its defaults dialog
// and the hot folder dialogs need of the print system. Behind an interface,
// like the other platform services, so that the windows are tested with a
// fake list instead of a running scheduler; the CUPS adapter is
// CupsPrinterCatalogue (cups/cups_printers.h).
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/printer_condition.h"

namespace tallowin {

// One setting of a printer that the user may choose.
struct PrinterChoice {
    // The option's name, as the print system stores it: "media",
    // "orientation-requested", "print-color-mode", "print-quality",
    // "printer-resolution", "sides" or "media-source".
    std::string Option;
    std::string Label;  // the setting's name, for people
    // (value, label) pairs: each value as the print system stores it, never
    // empty, each once; labels are for people.
    std::vector<std::pair<std::string, std::string>> Values;
    std::string Current;  // the value in force now; always one of Values
};

// (option, value) pairs, in the order they are to be applied.
using PrinterOptions = std::vector<std::pair<std::string, std::string>>;

// A printer is named as PrinterNames lists it. None of the calls throws;
// the adapter may be called from any thread.
class PrinterCatalogue {
  public:
    virtual ~PrinterCatalogue() = default;

    // The printers (classes and instances included) in the print system's
    // own enumeration order, which need not be sorted. Empty when the
    // print system cannot be reached or has no printers.
    virtual std::vector<std::string> PrinterNames() = 0;

    // The settings of printer that the user may choose, in the order the
    // defaults dialog shows them; each has at least one value. Empty when
    // the printer is unknown or cannot be read.
    virtual std::vector<PrinterChoice> Choices(const std::string& printer) = 0;

    // Stores options as the user's own defaults for printer, keeping the
    // user's other settings. True once stored (also for no options); false,
    // storing nothing, when the printer is unknown, an option cannot be
    // stored or the defaults cannot be written.
    virtual bool StoreUserDefaults(const std::string& printer, const PrinterOptions& options) = 0;

    // Where each printer stands now, by name as PrinterNames lists it: its
    // state, state reasons and whether it accepts jobs (see
    // NeedsAttention), read with the list in one request. Printers the
    // print system says nothing of are left out; empty when it cannot be
    // reached.
    virtual std::map<std::string, PrinterCondition> Conditions() = 0;
};

}  // namespace tallowin
