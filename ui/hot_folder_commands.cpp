// The commands by which the user changes the set of hot folders: New,
// Configure (button or double-click) and Delete, on the main window.
#include <QTreeWidget>
#include <algorithm>

#include "res/string_table.h"
#include "scheduling/hot_folder_list.h"
#include "ui/hot_folder_prop_dlg.h"
#include "ui/message_box.h"
#include "ui/tallowin_dlg.h"
#include "ui_main_dialog.h"

namespace tallowin {

namespace {

constexpr int kNoSelectionString = 104;
constexpr int kNoPrintersString = 105;
constexpr int kConfirmDeleteString = 106;

}  // namespace

int CTallowinDlg::SelectedRow() const {
    for (int row = 0; row < m_ui->hotFolderTable->topLevelItemCount(); ++row) {
        if (Row(row)->isSelected()) return row;
    }
    return -1;
}

void CTallowinDlg::OnNew() {
    if (m_printerNames.empty()) {
        ShowMessageBox(this, LoadString(kNoPrintersString), "Error", MB_OK);
        return;
    }
    HotFolder folder;
    // Partial and hidden files are left alone from the start.
    folder.PrintSettings.Exclude = kNewFolderExclude;
    CHotFolderPropDlg dlg;
    dlg.SetHotFolder(&folder);
    dlg.SetPrinterNames(m_printerNames);
    dlg.SetPrinterCatalogue(&m_printers);
    std::vector<std::string> taken;
    m_hotFolderList.GetNames(taken);
    dlg.SetTakenNames(taken);
    std::vector<std::pair<std::string, std::string>> folders;
    m_hotFolderList.GetNamesAndPaths(folders);
    dlg.SetTakenFolders(folders);
    // The first printer in the spooler's order, which need not be the first
    // in the sorted panel; the dialog reads the folder only when it opens.
    folder.SetPrinterName(m_printerNames.front());
    if (dlg.DoModal() == IDOK) AddRow(m_hotFolderList.Add(folder));
}

void CTallowinDlg::OnConfigure() {
    const int row = SelectedRow();
    if (row < 0) {
        ShowMessageBox(this, LoadString(kNoSelectionString), "Configure",
                       MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const int id = FolderIdOf(row);
    ConfigureHotFolder(id);
    UpdateRow(id, row, false);
}

void CTallowinDlg::OnTableDoubleClick() {
    if (m_run != Run::Stopped) return;  // the worker may still use the folders
    const int row = SelectedRow();
    if (row < 0) return;
    const int id = FolderIdOf(row);
    ConfigureHotFolder(id);
    UpdateRow(id, row, false);
}

void CTallowinDlg::ConfigureHotFolder(int folderId) {
    HotFolder folder;
    m_hotFolderList.Get(folderId, folder);
    CHotFolderPropDlg dlg;
    dlg.SetHotFolder(&folder);
    dlg.SetPrinterNames(m_printerNames);
    dlg.SetPrinterCatalogue(&m_printers);
    // The folder may keep its own name, but not take another folder's: only
    // the first equal name is taken out.
    std::vector<std::string> taken;
    m_hotFolderList.GetNames(taken);
    const auto own = std::find(taken.begin(), taken.end(), folder.GetName());
    if (own != taken.end()) taken.erase(own);
    dlg.SetTakenNames(taken);
    // Likewise its own folder: another hot folder on the same one is refused.
    std::vector<std::pair<std::string, std::string>> folders;
    m_hotFolderList.GetNamesAndPaths(folders);
    const auto ownFolder = std::find(folders.begin(), folders.end(),
                                     std::make_pair(folder.GetName(), folder.GetFolderPath()));
    if (ownFolder != folders.end()) folders.erase(ownFolder);
    dlg.SetTakenFolders(folders);
    dlg.DoModal();
    // After Cancel the copy still holds what was read, so this changes nothing.
    m_hotFolderList.Set(folderId, folder);
}

void CTallowinDlg::OnDelete() {
    const int row = SelectedRow();
    if (row < 0) {
        ShowMessageBox(this, LoadString(kNoSelectionString), "Delete", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const int id = FolderIdOf(row);
    HotFolder folder;
    m_hotFolderList.Get(id, folder);
    const QString question =
        FormatString(kConfirmDeleteString, QString::fromStdString(folder.GetName()));
    if (ShowMessageBox(this, question, "Delete", MB_OKCANCEL | MB_ICONQUESTION) == IDOK) {
        DeleteRow(row);
        m_hotFolderList.Remove(id);
    }
}

}  // namespace tallowin
