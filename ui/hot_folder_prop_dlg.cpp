#include "ui/hot_folder_prop_dlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/hot_folder.h"
#include "engine/scan_time.h"
#include "res/string_table.h"
#include "ui/bytes_text.h"
#include "ui/folder_dialog.h"
#include "ui/message_box.h"
#include "ui/print_settings_dialog.h"
#include "ui_hot_folder_prop_dialog.h"

namespace tallowin {

namespace {

constexpr int kPrinterNotValidString = 107;
constexpr int kNameTakenString = 108;
constexpr int kScanTimeTooShortString = 129;
// Every message of the dialog has this caption, whichever command opened it.
constexpr const char* kCaption = "Configure";
constexpr unsigned kBrowseFlags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_UAHINT;

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Both paths lead to one existing folder (links followed).
bool SameFolder(const std::string& a, const std::string& b) {
    std::error_code error;
    return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

CHotFolderPropDlg::CHotFolderPropDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::HotFolderPropDialog>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    m_printerCombo = m_ui->printerCombo;
    // A typed printer name stays exactly as typed and never joins the list.
    m_printerCombo->setInsertPolicy(QComboBox::NoInsert);
    m_printerCombo->setCompleter(nullptr);
    // OK checks before it accepts. It is the default button, so Enter in a
    // field clicks it too.
    connect(m_ui->okButton, &QPushButton::clicked, this, &CHotFolderPropDlg::OnOK);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &CHotFolderPropDlg::OnBrowse);
    connect(m_ui->printSettingsButton, &QPushButton::clicked, this,
            &CHotFolderPropDlg::OnPrintSettings);
}

CHotFolderPropDlg::~CHotFolderPropDlg() = default;

void CHotFolderPropDlg::SetHotFolder(HotFolder* hotFolder) {
    m_pHotFolder = hotFolder;
}

void CHotFolderPropDlg::SetPrinterNames(const std::vector<std::string>& printerNames) {
    m_printerNames = printerNames;
}

void CHotFolderPropDlg::SetTakenNames(const std::vector<std::string>& takenNames) {
    m_takenNames = takenNames;
}

void CHotFolderPropDlg::SetTakenFolders(
    const std::vector<std::pair<std::string, std::string>>& takenFolders) {
    m_takenFolders = takenFolders;
}

void CHotFolderPropDlg::SetPrinterCatalogue(PrinterCatalogue* catalogue) {
    m_catalogue = catalogue;
}

int CHotFolderPropDlg::DoModal() {
    if (m_pHotFolder == nullptr) return IDCANCEL;
    OnInitDialog();
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

bool CHotFolderPropDlg::OnInitDialog() {
    m_name = FromBytes(m_pHotFolder->GetName());
    m_path = FromBytes(m_pHotFolder->GetFolderPath());
    m_scanTime = QString::number(m_pHotFolder->GetScanTime());

    // Byte order, not the locale's: "HP LaserJet" before "hp deskjet".
    std::vector<std::string> sorted = m_printerNames;
    std::sort(sorted.begin(), sorted.end());
    m_printerCombo->clear();
    for (const std::string& printer : sorted) m_printerCombo->addItem(FromBytes(printer));

    m_printerName = FromBytes(m_pHotFolder->GetPrinterName());
    m_printSettings = m_pHotFolder->PrintSettings;
    UpdateData(false);
    m_ui->okButton->setFocus();
    return true;
}

bool CHotFolderPropDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_name = m_ui->nameEdit->text();
        m_path = m_ui->folderPathEdit->text();
        m_scanTime = m_ui->scanTimeEdit->text();
        m_printerName = m_printerCombo->currentText();
        return true;
    }
    m_ui->nameEdit->setText(m_name);
    m_ui->folderPathEdit->setText(m_path);
    m_ui->scanTimeEdit->setText(m_scanTime);
    for (int i = 0; i < m_printerCombo->count(); ++i) {
        if (m_printerCombo->itemText(i).startsWith(m_printerName, Qt::CaseInsensitive)) {
            m_printerCombo->setCurrentIndex(i);
            return true;
        }
    }
    m_printerCombo->setCurrentIndex(-1);
    m_printerCombo->setEditText(m_printerName);
    return true;
}

void CHotFolderPropDlg::OnOK() {
    UpdateData(true);
    const auto refuse = [this](const QString& text) {
        ShowMessageBox(this, text, kCaption, MB_OK | MB_ICONEXCLAMATION);
    };
    const std::string printer = ToBytes(m_printerName);
    if (!Contains(m_printerNames, printer)) {
        refuse(FormatString(kPrinterNotValidString, m_printerName));
        return;
    }
    const std::string name = ToBytes(m_name);
    if (Contains(m_takenNames, name)) {
        refuse(FormatString(kNameTakenString, m_name));
        return;
    }
    const std::string path = ToBytes(m_path);
    for (const auto& [otherName, otherPath] : m_takenFolders) {
        if (SameFolder(path, otherPath)) {
            // Not in the string table, which has no text for it.
            refuse(QString("Hot folder %1 already watches this folder!").arg(FromBytes(otherName)));
            return;
        }
    }
    const int scanTime = ParseScanTime(ToBytes(m_scanTime));
    if (!TypedScanTimeAccepted(scanTime)) {
        refuse(LoadString(kScanTimeTooShortString));
        return;
    }
    m_pHotFolder->SetPrinterName(printer);
    m_pHotFolder->SetName(name);
    m_pHotFolder->SetFolderPath(path);
    m_pHotFolder->SetScanTime(scanTime);
    m_pHotFolder->PrintSettings = m_printSettings;
    accept();
}

void CHotFolderPropDlg::OnBrowse() {
    CFolderDialog chooser(QString(), m_path, this, kBrowseFlags);
    if (RunFolderDialog(chooser) != IDOK) return;
    UpdateData(true);
    m_path = chooser.m_selectedPath;
    UpdateData(false);
}

int CHotFolderPropDlg::RunFolderDialog(CFolderDialog& chooser) {
    return chooser.DoModal();
}

void CHotFolderPropDlg::OnPrintSettings() {
    UpdateData(true);
    const std::string printer = ToBytes(m_printerName);
    const std::vector<PrinterChoice> choices =
        m_catalogue != nullptr ? m_catalogue->Choices(printer) : std::vector<PrinterChoice>{};
    PrintSettingsDialog dialog(printer, choices, m_printSettings, ToBytes(m_path), this);
    if (RunPrintSettingsDialog(dialog) == QDialog::Accepted) m_printSettings = dialog.Settings();
}

int CHotFolderPropDlg::RunPrintSettingsDialog(PrintSettingsDialog& dialog) {
    return dialog.exec();
}

}  // namespace tallowin
