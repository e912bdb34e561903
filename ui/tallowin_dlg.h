// CTallowinDlg: the main window — the printer panel, the hot folder table
// refreshed twice a second, and the buttons that start and stop the worker,
// open the help document and the print log, and end the application.
// CAboutDlg: the About box.
//
// Runs on the user interface thread only. It reads hot folders as copies
// from the list and names them by folder id; the worker changes their state
// while the window polls. It never waits for the worker: Stop only asks the
// worker to stop, and the refresh timer sees when it has; a request to close
// the window while the worker runs stops it first and closes once it is idle.
//
// A hand edit of the profile's hot folders, noticed by the refresh timer,
// shows in the table: the window takes it in while the worker is stopped
// (stopping it for that, and starting it again, when it runs), never under
// an open dialog. Changes made in the window and not saved yet are kept on
// top of the edit (HotFolderList::TakeIn).
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/printer_panel.h"

class QMenu;
class QTreeWidgetItem;
namespace Ui {
class MainDialog;
class AboutDialog;
}  // namespace Ui

namespace tallowin {

class HotFolderList;
class HotFolderThread;
class LogView;
class PrinterCatalogue;
class ProfileSync;
class RecentPrintLog;
class SystemTraySurface;
class TrayIcon;

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

  private:
    std::unique_ptr<Ui::AboutDialog> m_ui;
};

class CTallowinDlg : public QDialog {
    Q_OBJECT
  public:
    // The list, the worker, the log and the printers must outlive the
    // window. log: the recent print log entries the Log view shows;
    // logFilePath: the log file it opens (empty: none). applicationFolder is
    // where readme.htm lies (no trailing "/"). printers: the installed
    // printers, whose names the window reads once, here, and whose defaults
    // the printer panel reads and stores.
    CTallowinDlg(HotFolderList& list, HotFolderThread& worker, const RecentPrintLog& log,
                 QString logFilePath, QString applicationFolder, PrinterCatalogue& printers,
                 QWidget* parent = nullptr);
    ~CTallowinDlg() override;

    // Follows the profile file from now on; profile must outlive the window.
    void FollowProfile(ProfileSync& profile) { m_profile = &profile; }

    // Inserts a row for the folder with this id, in name order, and returns
    // its position.
    int AddRow(int folderId);
    // Rewrites the row at this position from a fresh copy of the folder;
    // with stateOnly, only its state and error cells (the error's tooltip
    // tells the last failure: reason, file and time).
    void UpdateRow(int folderId, int row, bool stateOnly);
    // UpdateRow(stateOnly) for every row: what the timer does.
    void UpdateAllRows();
    void DeleteRow(int row);

    // The printer-name list, in enumeration order.
    const std::vector<std::string>& PrinterNames() const;
    // Started, and no stop asked for.
    bool IsRunning() const { return m_run == Run::Running; }
    // A stop was asked for and the worker has not finished it yet.
    bool IsStopping() const { return m_run == Run::Stopping; }

    // The worker's Start, or a request to stop, as the Start/Stop button
    // does it. While the worker winds down the button says "Stopping…" and
    // Start/Stop and Exit are disabled; the refresh timer ends that state.
    void OnStartStop();
    // Opens readme.htm beside the executable with the desktop's viewer.
    void OnHelp();
    // Shows the Log view (made on first use), filterable by today's folders.
    void OnLog();
    void OnAbout();

    // The hot folder commands; each runs only while the worker is stopped
    // (the window disables their buttons while it runs).
    void OnNew();
    void OnConfigure();
    void OnDelete();
    // A double-click on the table: Configure of the selected row, silently
    // nothing while started or stopping, or with no row selected.
    void OnTableDoubleClick();
    // Edits a copy of the folder in the properties dialog and stores the
    // copy back, whatever the dialog returned.
    void ConfigureHotFolder(int folderId);
    // The window's own menu (what a title bar's menu offers), with the
    // About entry last, after a separator. The caller owns it.
    std::unique_ptr<QMenu> CreateWindowMenu();

    // Every way of closing the window (Exit, Escape, the close box, a
    // close request of the session or a termination signal) ends here:
    // while the worker runs or stops it asks it to stop and closes the
    // window only once the worker is idle.
    void done(int result) override;

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    enum class Run { Stopped, Running, Stopping };

    void OnInitDialog();
    void OnTimer();
    void RequestStop();
    // The worker is idle: editing comes back, and a pending close happens.
    void FinishStop();
    // A hand edit of the profile waits to be taken in; see above.
    void CheckProfile();
    void TakeInProfile();
    QTreeWidgetItem* Row(int row) const;
    // The first selected row in the table's order, or -1.
    int SelectedRow() const;
    int FolderIdOf(int row) const;
    // The tray's look and notifications, and the printer panel's badges,
    // from the folders as they stand.
    void ShowTrouble();

    std::unique_ptr<Ui::MainDialog> m_ui;
    HotFolderList& m_hotFolderList;
    HotFolderThread& m_hotFolderThread;
    const RecentPrintLog& m_log;
    QString m_logFilePath;
    QString m_applicationFolder;
    PrinterCatalogue& m_printers;
    std::unique_ptr<PrinterPanel> m_printerPanel;
    std::vector<std::string> m_printerNames;  // in enumeration order
    Run m_run = Run::Stopped;
    std::optional<int> m_closeWith;  // the result to close with once idle
    LogView* m_logView = nullptr;    // owned by the window as its child
    ProfileSync* m_profile = nullptr;
    bool m_takeInPending = false;
    bool m_restartAfterTakeIn = false;                 // the worker was stopped for a take-in
    std::unique_ptr<SystemTraySurface> m_traySurface;  // null where there is no tray
    std::unique_ptr<TrayIcon> m_tray;                  // feeds m_traySurface
};

}  // namespace tallowin
