// CHotFolderPropDlg: the modal "Hot Folder properties" dialog in which the
// user enters or changes the four settings of one hot folder — name,
// printer, folder path, scan time — and, through its "Print settings..."
// button (PrintSettingsDialog), the folder's print settings. The caller hands it the hot folder,
// the installed printers and the names the folder may not take, and runs it. It reads the hot
// folder when it opens and writes it only when OK passes every check; it never touches the hot
// folder list.
//
// Names are byte strings in the engine and UTF-8 here: bytes that are not
// UTF-8 cannot be shown and would come back changed. Used on the
// user-interface thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/job_settings.h"

class QComboBox;
namespace Ui {
class HotFolderPropDialog;
}  // namespace Ui

namespace tallowin {

class CFolderDialog;
class HotFolder;
class PrinterCatalogue;
class PrintSettingsDialog;

class CHotFolderPropDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CHotFolderPropDlg(QWidget* parent = nullptr);
    ~CHotFolderPropDlg() override;

    // Set-up before DoModal. The hot folder is not owned and must outlive
    // the dialog; the lists are copied (printer names in any order).
    void SetHotFolder(HotFolder* hotFolder);
    void SetPrinterNames(const std::vector<std::string>& printerNames);
    void SetTakenNames(const std::vector<std::string>& takenNames);
    // The other hot folders as (name, folder path): the path may not lead
    // to the folder one of them watches.
    void SetTakenFolders(const std::vector<std::pair<std::string, std::string>>& takenFolders);
    // Where the print settings dialog reads what the printer offers; not
    // owned, outlives the dialog. Null: it offers the printer's defaults only.
    void SetPrinterCatalogue(PrinterCatalogue* catalogue);

    // Opens the dialog (OnInitDialog) and runs it. Returns IDOK when OK
    // passed every check: the hot folder then holds the four new settings.
    // IDCANCEL otherwise (Cancel, Escape, the close box), the hot folder
    // untouched. Without a hot folder it shows nothing and returns IDCANCEL.
    int DoModal();

    // Exchanges the members with the fields: name, path, scan time as
    // plain text, then the printer field. With saveAndValidate the fields
    // go into the members (the printer field as typed or selected);
    // without, the members go into the fields, and the printer field
    // selects the first entry of its list that begins with m_printerName
    // ignoring case, showing that entry's full text, or else shows
    // m_printerName as typed. No field is validated: always returns true.
    bool UpdateData(bool saveAndValidate = true);

  protected:
    // Fills the members from the hot folder and the printer list (sorted in
    // byte order of the UTF-8 names, as everywhere in this system) from
    // m_printerNames, shows them and gives the focus to OK. Returns true.
    virtual bool OnInitDialog();
    // The OK button and Enter. Checks printer (equal to an installed one,
    // case counts), name (not a taken one, case counts), path (not leading
    // to a taken folder, by device and inode, so a trailing slash or a link
    // counts; a path that leads nowhere passes) and scan time (its leading
    // number at least 5), reports the first failure in a message box and
    // stays open; when all pass, writes the hot folder and accepts.
    virtual void OnOK();
    // The Browse button: a folder chooser opened on m_path (the member,
    // not the field as typed); its choice replaces the path, and the other
    // fields keep what was typed. Anything but IDOK changes nothing.
    virtual void OnBrowse();
    // Runs the chooser OnBrowse made and returns its result. Default:
    // chooser.DoModal(). Tests override it to answer without a person.
    virtual int RunFolderDialog(CFolderDialog& chooser);
    // The Print settings button: PrintSettingsDialog for the printer in the
    // printer field and the path in the path field, on m_printSettings;
    // its settings replace m_printSettings when it is accepted. They go
    // into the hot folder only with OK.
    virtual void OnPrintSettings();
    // Runs the print settings dialog and returns its QDialog result.
    // Default: exec(). Tests override it to answer without a person.
    virtual int RunPrintSettingsDialog(PrintSettingsDialog& dialog);

    QComboBox* m_printerCombo = nullptr;  // the printer field, owned by the dialog
    QString m_name;
    QString m_path;
    QString m_scanTime;  // as typed
    QString m_printerName;
    HotFolder* m_pHotFolder = nullptr;
    std::vector<std::string> m_printerNames;  // in the order given
    std::vector<std::string> m_takenNames;
    std::vector<std::pair<std::string, std::string>> m_takenFolders;
    JobSettingsText m_printSettings;
    PrinterCatalogue* m_catalogue = nullptr;

  private:
    std::unique_ptr<Ui::HotFolderPropDialog> m_ui;
};

}  // namespace tallowin
