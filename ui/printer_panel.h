// The printer panel of the main window: every installed printer as a large
// icon with its name, and the printing defaults behind a double-click.
#pragma once

#include <QIcon>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QListWidget;
class QWidget;

namespace tallowin {

class PrinterCatalogue;
class PrinterDefaultsDialog;

// Fills and reads the main window's printer panel, a QListWidget (icon
// mode, 48 x 48 icons, extended selection) that the window owns and that
// must outlive this object; the panel keeps the printer-name list beside it.
// The printers' settings are read from and stored to the catalogue, which
// must outlive this object too.
// Used on the user-interface thread only.
class PrinterPanel {
  public:
    // Runs the defaults dialog modally and returns QDialog::Accepted or
    // QDialog::Rejected. The default runs exec(); tests pass one that
    // drives the dialog's combo boxes and returns without a person.
    using DialogRunner = std::function<int(PrinterDefaultsDialog&)>;

    PrinterPanel(QListWidget* view, PrinterCatalogue& printers, DialogRunner runDialog = {});

    // Replaces the panel's items and the printer-name list with names, in
    // the catalogue's enumeration order, each marked as the catalogue's
    // Conditions say it stands (see ShowTrouble). Each item shows its name (UTF-8)
    // and printerIcon, and holds its position in names as its Qt::UserRole
    // data. Items stand in ascending order of their names' bytes (unsigned,
    // as compared by std::string), whatever the locale; equal names keep
    // their enumeration order. The view's own sorting is switched off.
    void Fill(const std::vector<std::string>& names, const QIcon& printerIcon);

    // Marks the printers that need attention with a badge on the icon and
    // "Needs attention: <words>" as the tooltip; the others get their plain
    // icon and "Ready". For the printers in watched (those the running hot
    // folders ask about at every scan) trouble decides, by name with their
    // words; the others keep what the catalogue said of them at Fill. The
    // window calls it with what its hot folders last found.
    void ShowTrouble(const std::map<std::string, std::string>& trouble,
                     const std::set<std::string>& watched);

    // The printer-name list: the names Fill was given, in their order.
    const std::vector<std::string>& PrinterNames() const { return names_; }

    // The name of the first selected item in the panel's order (not the one
    // clicked last); nullopt when no item is selected.
    std::optional<std::string> FirstSelectedPrinter() const;

    // The double-click command. With no item selected it does nothing.
    // Otherwise it reads the selected printer's choices from the catalogue,
    // opens a PrinterDefaultsDialog for it over parent and, only when the
    // user confirms with OK and changed something, stores the changed
    // settings as the user's defaults for that printer (the catalogue's
    // StoreUserDefaults); Cancel stores nothing. No message is shown, also
    // not when the printer cannot be read or the defaults cannot be stored.
    void OpenDefaultsDialog(QWidget* parent);

  private:
    QListWidget* view_;           // not owned
    PrinterCatalogue& printers_;  // not owned
    DialogRunner runDialog_;
    std::vector<std::string> names_;
    QIcon icon_;                                 // as Fill was given it
    QIcon troubleIcon_;                          // the same with the attention badge
    std::map<std::string, std::string> filled_;  // trouble as Fill found it, by name
};

}  // namespace tallowin
