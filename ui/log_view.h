// LogView: the window's view of the print log — the recent entries, newest
// first, refreshed live while it is open, filterable by hot folder, and a
// button that opens the whole log file with the desktop's viewer.
//
// A small non-modal dialog on the user interface thread. It reads the log
// through RecentPrintLog's copies (which are safe while the worker records)
// and rereads only when something new was recorded.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/ports/services.h"

class QComboBox;
class QPushButton;
class QTreeWidget;

namespace tallowin {

class RecentPrintLog;

class LogView : public QDialog {
    Q_OBJECT
  public:
    // The log must outlive the view. logFilePath: the log file that "Open
    // log file" opens; empty disables the button.
    LogView(const RecentPrintLog& log, QString logFilePath, QWidget* parent = nullptr);
    ~LogView() override;

    // The hot folders the filter offers after "All", in this order. The
    // chosen folder stays chosen while it is offered; otherwise "All".
    void SetHotFolders(const std::vector<std::string>& names);
    // Rereads the entries now; the view's timer does it once a second when
    // something new was recorded.
    void Refresh();
    // The words the view shows for an outcome.
    static QString OutcomeText(PrintLogEntry::Outcome outcome);

  private:
    void OnTimer();
    void OnOpenLogFile();
    std::optional<std::string> ChosenFolder() const;

    const RecentPrintLog& log_;
    QString logFilePath_;
    QComboBox* filter_ = nullptr;      // owned by the dialog
    QTreeWidget* entries_ = nullptr;   // owned by the dialog
    QPushButton* openFile_ = nullptr;  // owned by the dialog
    std::uint64_t shownCount_ = 0;     // the log's Count at the last refresh
};

}  // namespace tallowin
