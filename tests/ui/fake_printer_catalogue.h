// A printer catalogue held in memory, for the window tests: the names and
// choices a test sets, and a record of what the windows stored.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/ports/printer_catalogue.h"

using namespace tallowin;

struct FakePrinterCatalogue final : PrinterCatalogue {
    std::vector<std::string> names;                             // in enumeration order
    std::map<std::string, std::vector<PrinterChoice>> choices;  // printers not here: unreadable
    bool storeSucceeds = true;

    int nameReads = 0;
    std::vector<std::string> choiceReads;                        // the printers asked for
    std::vector<std::pair<std::string, PrinterOptions>> stored;  // every call, in order

    std::vector<std::string> PrinterNames() override {
        ++nameReads;
        return names;
    }
    std::vector<PrinterChoice> Choices(const std::string& printer) override {
        choiceReads.push_back(printer);
        const auto it = choices.find(printer);
        return it != choices.end() ? it->second : std::vector<PrinterChoice>{};
    }
    bool StoreUserDefaults(const std::string& printer, const PrinterOptions& options) override {
        stored.emplace_back(printer, options);
        return storeSucceeds;
    }
    std::map<std::string, PrinterCondition> conditions;  // printers not here: idle
    std::map<std::string, PrinterCondition> Conditions() override { return conditions; }
};
