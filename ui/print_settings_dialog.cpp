#include "ui/print_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "ui/bytes_text.h"
#include "ui/folder_dialog.h"
#include "ui/message_box.h"

namespace tallowin {

namespace {

constexpr const char* kSettingsCaption = "Print settings";

using ChoiceValues = std::vector<std::pair<std::string, std::string>>;

// The values of the printer's option, empty when it offers none.
ChoiceValues Offered(const std::vector<PrinterChoice>& choices, const std::string& option) {
    const auto it = std::find_if(choices.begin(), choices.end(),
                                 [&](const PrinterChoice& c) { return c.Option == option; });
    return it != choices.end() ? it->Values : ChoiceValues{};
}

bool IsFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error) && !error;
}

}  // namespace

PrintSettingsDialog::PrintSettingsDialog(const std::string& printer,
                                         const std::vector<PrinterChoice>& choices,
                                         const JobSettingsText& settings, std::string hotFolderPath,
                                         QWidget* parent)
    : QDialog(parent), hotFolderPath_(std::move(hotFolderPath)) {
    setWindowTitle(tr("Print settings - %1").arg(FromBytes(printer)));
    // The dialog owns its layouts and widgets through Qt's parent links.
    auto* layout = new QVBoxLayout(this);
    form_ = new QFormLayout;
    layout->addLayout(form_);  // takes it

    AddCombo("Media", tr("Paper size"), Offered(choices, "media"), settings.Media, true);
    AddCombo("Tray", tr("Paper source"), Offered(choices, "media-source"), settings.Tray, true);
    AddCombo("Sides", tr("Two-sided printing"), Offered(choices, "sides"), settings.Sides, true);
    AddCombo("ColorMode", tr("Color mode"), Offered(choices, "print-color-mode"),
             settings.ColorMode, true);
    AddCombo("Scaling", tr("Scaling"),
             {{"auto-fit", "Its own size, shrunk to fit"},
              {"fit", "Enlarged or shrunk to fit"},
              {"fill", "Fill the page, cut where it overflows"},
              {"none", "Its own size, cut at the edges"}},
             settings.Scaling.empty() ? "auto-fit" : settings.Scaling, false);
    ChoiceValues positions;
    for (const char* p : {"top-left", "top", "top-right", "left", "center", "right", "bottom-left",
                          "bottom", "bottom-right"}) {
        positions.emplace_back(p, p);
    }
    AddCombo("Position", tr("Position"), positions,
             settings.Position.empty() ? "top-left" : settings.Position, false);
    AddCombo("Rotate", tr("Rotation"),
             {{"no", "Never turned"}, {"auto", "Turned when it prints larger"}},
             settings.Rotate.empty() ? "no" : settings.Rotate, false);
    AddCombo("AfterPrint", tr("After printing"),
             {{"delete", "Delete the file"}, {"move", "Move it to the printed folder"}},
             settings.AfterPrint.empty() ? "delete" : settings.AfterPrint, false);
    AddEdit("PrintedFolder", tr("Printed folder"), settings.PrintedFolder);
    AddEdit("KeptFolder", tr("Files that cannot print go to"), settings.KeptFolder);
    AddEdit("Include", tr("Print only names like"), settings.Include);
    AddEdit("Exclude", tr("Never print names like"), settings.Exclude);
    AddEdit("Copies", tr("Copies"), settings.Copies);
    AddEdit("Options", tr("Further options"), settings.Options);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PrintSettingsDialog::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QComboBox* PrintSettingsDialog::AddCombo(const char* key, const QString& label,
                                         const ChoiceValues& values, const std::string& current,
                                         bool withDefault) {
    auto* combo = new QComboBox(this);
    combo->setObjectName(key);
    if (withDefault) combo->addItem(tr("Printer's default"), QString());
    for (const auto& [value, text] : values) combo->addItem(FromBytes(text), FromBytes(value));
    int at = combo->findData(FromBytes(current));
    if (at < 0) {
        // Kept as written: the dialog never changes what it was not asked to.
        combo->addItem(FromBytes(current), FromBytes(current));
        at = combo->count() - 1;
    }
    combo->setCurrentIndex(at);
    form_->addRow(label + ":", combo);
    combos_[key] = combo;
    return combo;
}

QLineEdit* PrintSettingsDialog::AddEdit(const char* key, const QString& label,
                                        const std::string& text) {
    auto* edit = new QLineEdit(FromBytes(text), this);
    edit->setObjectName(key);
    const std::string k = key;
    if (k == "PrintedFolder" || k == "KeptFolder") {
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        auto* browse = new QPushButton(tr("Browse..."), this);
        browse->setObjectName(QString(key) + "Browse");
        connect(browse, &QPushButton::clicked, this, [this, edit] { Browse(edit); });
        row->addWidget(browse);
        form_->addRow(label + ":", row);  // takes it
    } else {
        form_->addRow(label + ":", edit);
    }
    edits_[key] = edit;
    return edit;
}

void PrintSettingsDialog::Browse(QLineEdit* edit) {
    // The picker opens where the setting points, a relative folder being
    // under the hot folder as the service reads it, or at the hot folder.
    const std::string text = ToBytes(edit->text().trimmed());
    const std::string start =
        text.empty() ? hotFolderPath_ : ResolveSettingsFolder(hotFolderPath_, text);
    CFolderDialog chooser(tr("Choose a folder"), FromBytes(start), this,
                          BIF_EDITBOX | BIF_NEWDIALOGSTYLE);
    if (RunFolderDialog(chooser) == IDOK) edit->setText(chooser.m_selectedPath);
}

int PrintSettingsDialog::RunFolderDialog(CFolderDialog& chooser) {
    return chooser.DoModal();
}

JobSettingsText PrintSettingsDialog::Settings() const {
    JobSettingsText text;
    for (const JobSettingsKey& key : kJobSettingsKeys) {
        if (const auto c = combos_.find(key.Key); c != combos_.end()) {
            text.*key.Field = ToBytes(c->second->currentData().toString());
        } else if (const auto e = edits_.find(key.Key); e != edits_.end()) {
            text.*key.Field = ToBytes(e->second->text().trimmed());
        }
    }
    // The defaults are written as nothing, as a folder without them has.
    if (text.Scaling == "auto-fit") text.Scaling.clear();
    if (text.Position == "top-left") text.Position.clear();
    if (text.Rotate == "no") text.Rotate.clear();
    if (text.AfterPrint == "delete") text.AfterPrint.clear();
    return text;
}

void PrintSettingsDialog::OnOK() {
    const JobSettingsText text = Settings();
    const auto refuse = [this](const QString& message) {
        ShowMessageBox(this, message, kSettingsCaption, MB_OK | MB_ICONEXCLAMATION);
    };
    const ParsedJobSettings read = ParseJobSettings(text, hotFolderPath_);
    if (!read.Ok()) {
        refuse(FromBytes(read.Problems.front()));
        return;
    }
    if (read.Settings.After == AfterPrint::Move) {
        const std::string folder = ResolveSettingsFolder(hotFolderPath_, text.PrintedFolder);
        if (!IsFolder(folder)) {
            refuse(tr("The printed folder %1 is not an existing folder.").arg(FromBytes(folder)));
            return;
        }
    }
    if (!text.KeptFolder.empty()) {
        const std::string folder = ResolveSettingsFolder(hotFolderPath_, text.KeptFolder);
        if (!IsFolder(folder)) {
            refuse(tr("The folder for files that cannot print, %1, is not an existing folder.")
                       .arg(FromBytes(folder)));
            return;
        }
    }
    accept();
}

}  // namespace tallowin
