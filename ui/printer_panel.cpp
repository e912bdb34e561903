#include "ui/printer_panel.h"

#include <QIcon>
#include <QListWidget>
#include <memory>
#include <utility>

#include "engine/ports/printer_catalogue.h"
#include "ui/bytes_text.h"
#include "ui/printer_defaults_dialog.h"
#include "ui/tray_icon.h"

namespace tallowin {

namespace {

constexpr int kIndexRole = Qt::UserRole;  // an item's position in the printer-name list

// The printer-name list's index that item holds, if it is a valid one.
std::optional<std::size_t> IndexOf(const QListWidgetItem* item, std::size_t count) {
    bool ok = false;
    const int index = item->data(kIndexRole).toInt(&ok);
    if (!ok || index < 0 || static_cast<std::size_t>(index) >= count) return std::nullopt;
    return static_cast<std::size_t>(index);
}

}  // namespace

PrinterPanel::PrinterPanel(QListWidget* view, PrinterCatalogue& printers, DialogRunner runDialog)
    : view_(view), printers_(printers), runDialog_(std::move(runDialog)) {
    // The panel places each item itself: the view's sorting compares text
    // by locale, not by the names' bytes.
    view_->setSortingEnabled(false);
}

void PrinterPanel::Fill(const std::vector<std::string>& names, const QIcon& printerIcon) {
    view_->clear();
    names_ = names;
    icon_ = printerIcon;
    troubleIcon_ = WithAttentionBadge(printerIcon);
    for (std::size_t i = 0; i < names_.size(); ++i) {
        // After the last item whose name is not greater (an upper bound), so
        // that equal names keep the enumeration order.
        int row = 0;
        for (int end = view_->count(); row < end;) {
            const int middle = row + (end - row) / 2;
            const auto index = IndexOf(view_->item(middle), names_.size());
            if (index && names_[i] < names_[*index]) {
                end = middle;
            } else {
                row = middle + 1;
            }
        }
        auto item = std::make_unique<QListWidgetItem>(printerIcon, FromBytes(names_[i]));
        item->setData(kIndexRole, static_cast<int>(i));
        view_->insertItem(row, item.release());  // the view owns its items
    }
    filled_.clear();
    for (const auto& [name, condition] : printers_.Conditions()) {
        if (const std::optional<std::string> words = NeedsAttention(condition)) {
            filled_.emplace(name, *words);
        }
    }
    ShowTrouble({}, {});
}

void PrinterPanel::ShowTrouble(const std::map<std::string, std::string>& trouble,
                               const std::set<std::string>& watched) {
    for (int row = 0; row < view_->count(); ++row) {
        QListWidgetItem* item = view_->item(row);
        const auto index = IndexOf(item, names_.size());
        if (!index) continue;
        const std::string& name = names_[*index];
        const auto& known = watched.contains(name) ? trouble : filled_;
        const auto it = known.find(name);
        const QString tip = it == known.end() ? QStringLiteral("Ready")
                                              : "Needs attention: " + FromBytes(it->second);
        if (item->toolTip() == tip) continue;  // unchanged: no repaint
        item->setToolTip(tip);
        item->setIcon(it == known.end() ? icon_ : troubleIcon_);
    }
}

std::optional<std::string> PrinterPanel::FirstSelectedPrinter() const {
    for (int row = 0; row < view_->count(); ++row) {
        const QListWidgetItem* item = view_->item(row);
        if (!item->isSelected()) continue;
        if (const auto index = IndexOf(item, names_.size())) return names_[*index];
    }
    return std::nullopt;
}

void PrinterPanel::OpenDefaultsDialog(QWidget* parent) {
    const std::optional<std::string> printer = FirstSelectedPrinter();
    if (!printer) return;
    PrinterDefaultsDialog dialog(*printer, printers_.Choices(*printer), parent);
    const int result = runDialog_ ? runDialog_(dialog) : dialog.exec();
    if (result != QDialog::Accepted) return;
    if (const auto chosen = dialog.Chosen(); !chosen.empty()) {
        // No message on failure, as for the whole panel.
        printers_.StoreUserDefaults(*printer, chosen);
    }
}

}  // namespace tallowin
