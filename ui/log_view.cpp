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
    : QDialog(parent), log(log), logFilePath(std::move(logFilePath)) {
    setWindowTitle("Tallowin log");
    setModal(false);
    resize(900, 400);

    filter = new QComboBox(this);
    filter->setObjectName("logFilter");
    filter->addItem("All");
    openFile = new QPushButton("&Open log file", this);
    openFile->setObjectName("openLogFileButton");
    openFile->setEnabled(!this->logFilePath.isEmpty());
    auto* close = new QPushButton("&Close", this);

    entries = new QTreeWidget(this);
    entries->setObjectName("logEntries");
    entries->setColumnCount(kColumns);
    entries->setHeaderLabels(
        {"Time", "Hot folder", "File", "Outcome", "Printer", "Job", "Size on paper", "Reason"});
    entries->setRootIsDecorated(false);
    entries->setUniformRowHeights(true);
    entries->setSortingEnabled(false);
    entries->header()->setStretchLastSection(true);
    const int widths[kColumns - 1] = {130, 100, 200, 80, 100, 40, 90};
    for (int c = 0; c < kColumns - 1; ++c) entries->setColumnWidth(c, widths[c]);

    auto* filterLabel = new QLabel("&Hot folder:", this);
    filterLabel->setBuddy(filter);
    auto* top = new QHBoxLayout;
    top->addWidget(filterLabel);
    top->addWidget(filter, 1);
    top->addStretch(2);
    top->addWidget(openFile);
    top->addWidget(close);
    auto* layout = new QVBoxLayout(this);  // owned by the dialog
    layout->addLayout(top);
    layout->addWidget(entries);

    connect(filter, &QComboBox::currentIndexChanged, this, &LogView::Refresh);
    connect(openFile, &QPushButton::clicked, this, &LogView::OnOpenLogFile);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* timer = new QTimer(this);  // owned by the dialog, ends with it
    connect(timer, &QTimer::timeout, this, &LogView::OnTimer);
    timer->start(kRefreshMs);
    Refresh();
}

LogView::~LogView() = default;

void LogView::SetHotFolders(const std::vector<std::string>& names) {
    const std::optional<std::string> chosen = ChosenFolder();
    const QSignalBlocker quiet(filter);  // one refresh at the end, not one per item
    while (filter->count() > 1) filter->removeItem(filter->count() - 1);
    int keep = kAllIndex;
    for (const std::string& name : names) {
        filter->addItem(FromBytes(name), QByteArray::fromStdString(name));
        if (chosen && *chosen == name) keep = filter->count() - 1;
    }
    filter->setCurrentIndex(keep);
    Refresh();
}

std::optional<std::string> LogView::ChosenFolder() const {
    if (filter->currentIndex() <= kAllIndex) return std::nullopt;
    return filter->currentData(kNameRole).toByteArray().toStdString();
}

void LogView::OnTimer() {
    if (log.Count() != shownCount) Refresh();
}

void LogView::Refresh() {
    shownCount = log.Count();
    const std::vector<PrintLogEntry> recent = log.Recent(ChosenFolder());
    entries->clear();
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
    entries->addTopLevelItems(rows);
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
    }
    return {};
}

void LogView::OnOpenLogFile() {
    if (!logFilePath.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(logFilePath));
}

}  // namespace tallowin
