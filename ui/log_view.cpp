#include "ui/log_view.h"

#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>

#include "scheduling/recent_print_log.h"
#include "ui/bytes_text.h"
#include "ui/hot_folder_texts.h"

namespace tallowin {

namespace {

enum Column { kTime = 0, kFolder, kFile, kOutcome, kPrinter, kJob, kSize, kReason, kColumns };
constexpr int kRefreshMs = 1000;
// The filter's first choice, and the name role that tells it apart from a
// hot folder that happens to be called "All".
constexpr int kAllIndex = 0;
constexpr int kNameRole = Qt::UserRole;

QString TimeText(std::chrono::system_clock::time_point time) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toString("yyyy-MM-dd hh:mm:ss");
}

// The reason with its code's text in front, as the window's Error column
// names it.
QString ReasonText(const PrintLogEntry& e) {
    const QString reason = FromBytes(e.Reason);
    if (e.Code == HF_ERR_NONE) return reason;
    const QString code = ErrorText(e.Code);
    return reason.isEmpty() ? code : code + ": " + reason;
}

}  // namespace

LogView::LogView(const RecentPrintLog& log, QString logFilePath, QWidget* parent)
    : QDialog(parent), log_(log), logFilePath_(std::move(logFilePath)) {
    setWindowTitle("Tallowin log");
    setModal(false);
    resize(900, 400);

    filter_ = new QComboBox(this);
    filter_->setObjectName("logFilter");
    filter_->addItem("All");
    openFile_ = new QPushButton("&Open log file", this);
    openFile_->setObjectName("openLogFileButton");
    openFile_->setEnabled(!this->logFilePath_.isEmpty());
    auto* close = new QPushButton("&Close", this);

    entries_ = new QTreeWidget(this);
    entries_->setObjectName("logEntries");
    entries_->setColumnCount(kColumns);
    entries_->setHeaderLabels(
        {"Time", "Hot folder", "File", "Outcome", "Printer", "Job", "Size on paper", "Reason"});
    entries_->setRootIsDecorated(false);
    entries_->setUniformRowHeights(true);
    entries_->setSortingEnabled(false);
    entries_->header()->setStretchLastSection(true);
    const int widths[kColumns - 1] = {130, 100, 200, 80, 100, 40, 90};
    for (int c = 0; c < kColumns - 1; ++c) entries_->setColumnWidth(c, widths[c]);

    auto* filterLabel = new QLabel("&Hot folder:", this);
    filterLabel->setBuddy(filter_);
    auto* top = new QHBoxLayout;
    top->addWidget(filterLabel);
    top->addWidget(filter_, 1);
    top->addStretch(2);
    top->addWidget(openFile_);
    top->addWidget(close);
    auto* layout = new QVBoxLayout(this);  // owned by the dialog
    layout->addLayout(top);
    layout->addWidget(entries_);

    connect(filter_, &QComboBox::currentIndexChanged, this, &LogView::Refresh);
    connect(openFile_, &QPushButton::clicked, this, &LogView::OnOpenLogFile);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* timer = new QTimer(this);  // owned by the dialog, ends with it
    connect(timer, &QTimer::timeout, this, &LogView::OnTimer);
    timer->start(kRefreshMs);
    Refresh();
}

LogView::~LogView() = default;

void LogView::SetHotFolders(const std::vector<std::string>& names) {
    const std::optional<std::string> chosen = ChosenFolder();
    const QSignalBlocker quiet(filter_);  // one refresh at the end, not one per item
    while (filter_->count() > 1) filter_->removeItem(filter_->count() - 1);
    int keep = kAllIndex;
    for (const std::string& name : names) {
        filter_->addItem(FromBytes(name), QByteArray::fromStdString(name));
        if (chosen && *chosen == name) keep = filter_->count() - 1;
    }
    filter_->setCurrentIndex(keep);
    Refresh();
}

std::optional<std::string> LogView::ChosenFolder() const {
    if (filter_->currentIndex() <= kAllIndex) return std::nullopt;
    return filter_->currentData(kNameRole).toByteArray().toStdString();
}

void LogView::OnTimer() {
    if (log_.Count() != shownCount_) Refresh();
}

void LogView::Refresh() {
    shownCount_ = log_.Count();
    const std::vector<PrintLogEntry> recent = log_.Recent(ChosenFolder());
    entries_->clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(recent.size()));
    for (const PrintLogEntry& e : recent) {
        auto* row = new QTreeWidgetItem();  // the table takes ownership below
        row->setText(kTime, TimeText(e.Time));
        row->setText(kFolder, FromBytes(e.HotFolder));
        row->setText(kFile, FromBytes(e.File));
        row->setText(kOutcome, OutcomeText(e.Result));
        row->setText(kPrinter, FromBytes(e.Printer));
        if (e.JobId > 0) row->setText(kJob, QString::number(e.JobId));
        if (e.Width > 0 && e.Height > 0) {
            row->setText(kSize, QString("%1 \u00d7 %2").arg(e.Width).arg(e.Height));
        }
        row->setText(kReason, ReasonText(e));
        row->setToolTip(kReason, ReasonText(e));
        rows.push_back(row);
    }
    entries_->addTopLevelItems(rows);
}

QString LogView::OutcomeText(PrintLogEntry::Outcome outcome) {
    switch (outcome) {
        case PrintLogEntry::Outcome::Sent:
            return "Sent";
        case PrintLogEntry::Outcome::Printed:
            return "Printed";
        case PrintLogEntry::Outcome::Kept:
            return "Kept";
        case PrintLogEntry::Outcome::NotDeleted:
            return "Not deleted";
        case PrintLogEntry::Outcome::Interrupted:
            return "Interrupted";
        case PrintLogEntry::Outcome::LedgerRecovered:
            return "Job ledger recovered";
        case PrintLogEntry::Outcome::LedgerLost:
            return "Job ledger lost";
        case PrintLogEntry::Outcome::FolderBack:
            return "Folder back";
        case PrintLogEntry::Outcome::PrinterAttention:
            return "Printer needs attention";
        case PrintLogEntry::Outcome::PrinterReady:
            return "Printer ready";
        case PrintLogEntry::Outcome::Notified:
            return "Notified";
    }
    return {};
}

void LogView::OnOpenLogFile() {
    if (!logFilePath_.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(logFilePath_));
}

}  // namespace tallowin
