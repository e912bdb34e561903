#include "ui/printer_defaults_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/bytes_text.h"

namespace tallowin {

PrinterDefaultsDialog::PrinterDefaultsDialog(const std::string& printer,
                                             std::vector<PrinterChoice> choices, QWidget* parent)
    : QDialog(parent), printer_(printer), choices_(std::move(choices)) {
    setWindowTitle(tr("Printing defaults - %1").arg(FromBytes(printer_)));

    // The dialog owns its layouts and widgets through Qt's parent links.
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);  // takes it
    for (const PrinterChoice& choice : choices_) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(FromBytes(choice.Option));
        for (const auto& [value, label] : choice.Values) {
            combo->addItem(FromBytes(label), FromBytes(value));
        }
        combo->setCurrentIndex(combo->findData(FromBytes(choice.Current)));
        form->addRow(FromBytes(choice.Label) + ":", combo);
        combos_.push_back(combo);
    }
    if (choices_.empty()) {
        layout->addWidget(new QLabel(tr("The settings of this printer cannot be read."), this));
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::vector<std::pair<std::string, std::string>> PrinterDefaultsDialog::Chosen() const {
    std::vector<std::pair<std::string, std::string>> chosen;
    for (std::size_t i = 0; i < choices_.size(); ++i) {
        const QVariant data = combos_[i]->currentData();
        if (!data.isValid()) continue;
        std::string value = ToBytes(data.toString());
        if (value != choices_[i].Current) chosen.emplace_back(choices_[i].Option, std::move(value));
    }
    return chosen;
}

}  // namespace tallowin
