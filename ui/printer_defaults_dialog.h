// The printing defaults of one printer, for the user to change: the
// printer panel opens it on a double-click.
#pragma once

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

#include "engine/ports/printer_catalogue.h"

class QComboBox;

namespace tallowin {

// A modal dialog titled "Printing defaults - <printer>" with one combo box
// per choice (in the order given, preselected on the choice's Current
// value) and OK and Cancel. Each combo box's objectName is its option
// ("media", "sides", ...), its items' data the values (UTF-8 QStrings).
// With no choices (a printer that could not be read) it says so and offers
// nothing to change.
//
// It only shows and collects; storing the result is the caller's job. Used
// on the user-interface thread only.
class PrinterDefaultsDialog : public QDialog {
    Q_OBJECT

  public:
    PrinterDefaultsDialog(const std::string& printer, std::vector<PrinterChoice> choices,
                          QWidget* parent = nullptr);

    const std::string& Printer() const { return printer_; }

    // The (option, value) pairs whose selection differs from the value in
    // force when the dialog opened, in the dialog's order. A setting left
    // alone is not returned, so that confirming the dialog never pins the
    // printer's own defaults as the user's. Empty when nothing changed.
    std::vector<std::pair<std::string, std::string>> Chosen() const;

  private:
    std::string printer_;
    std::vector<PrinterChoice> choices_;
    std::vector<QComboBox*> combos_;  // one per choice, owned by the dialog
};

}  // namespace tallowin
