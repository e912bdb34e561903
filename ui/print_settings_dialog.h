// The print settings of one hot folder, for the user to change: opened by
// the "Print settings..." button of the hot folder's properties. Built from
// what the folder's printer offers (its paper sizes, trays, sides and colour
// modes, as the printer catalogue reads them), then how the picture is
// scaled, placed and turned, what becomes of a printed file and of one that
// can never print, which names are printed, the copies and further options.
#pragma once

#include <QDialog>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "engine/job_settings.h"
#include "engine/ports/printer_catalogue.h"

class QComboBox;
class QFormLayout;
class QLineEdit;

namespace tallowin {

class CFolderDialog;

// A modal dialog titled "Print settings - <printer>". Each field's
// objectName is its profile key ("Media", "Tray", "Sides", "ColorMode",
// "Scaling", "Position", "Rotate", "AfterPrint", "PrintedFolder",
// "KeptFolder", "Include", "Exclude", "Copies", "Options"). The printer's
// fields start with "Printer's default" (value "") and list what choices
// offer (media, media-source, sides, print-color-mode); a value the text
// holds that the printer does not offer is listed as it is, so that opening
// and confirming the dialog never changes a setting. Combo boxes keep their
// values as item data (UTF-8).
//
// OK checks the settings as ParseJobSettings does (hotFolderPath: the hot
// folder's folder) and that a printed folder (with "move") and a kept folder
// exist as folders; it reports the first failure in a message box (caption
// "Print settings") and stays open. Used on the user-interface thread only.
class PrintSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    PrintSettingsDialog(const std::string& printer, const std::vector<PrinterChoice>& choices,
                        const JobSettingsText& settings, std::string hotFolderPath,
                        QWidget* parent = nullptr);

    // The fields as the profile keeps them (trimmed); what OK accepted once
    // it returned Accepted.
    JobSettingsText Settings() const;

  protected:
    // Runs the folder picker of a "Browse..." button (PrintedFolder,
    // KeptFolder): opened at the field's folder (a relative one under the
    // hot folder) or, when empty, at the hot folder; IDOK puts its choice in
    // the field. Default: chooser.DoModal(). Tests answer it instead.
    virtual int RunFolderDialog(CFolderDialog& chooser);

  private:
    void OnOK();
    void Browse(QLineEdit* edit);
    QComboBox* AddCombo(const char* key, const QString& label,
                        const std::vector<std::pair<std::string, std::string>>& values,
                        const std::string& current, bool withDefault);
    QLineEdit* AddEdit(const char* key, const QString& label, const std::string& text);

    std::string hotFolderPath_;
    std::map<std::string, QComboBox*> combos_;  // by key; owned by the dialog
    std::map<std::string, QLineEdit*> edits_;   // by key; owned by the dialog
    QFormLayout* form_ = nullptr;
};

}  // namespace tallowin
