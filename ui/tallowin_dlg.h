// CTallowinDlg: the main window — the printer panel, the hot folder table
// refreshed twice a second, and the buttons that start and stop the worker,
// open the help document and end the application. CAboutDlg: the About box.
//
// Runs on the user interface thread only. It reads hot folders as copies
// from the list and names them by folder id; the worker changes their state
// while the window polls.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "ui/printer_panel.h"

class HotFolderList;
class HotFolderThread;
class QMenu;
class QTreeWidgetItem;
namespace Ui {
class MainDialog;
class AboutDialog;
}  // namespace Ui

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

  private:
    std::unique_ptr<Ui::AboutDialog> ui;
};

class CTallowinDlg : public QDialog {
    Q_OBJECT
  public:
    // The list and the worker must outlive the window. applicationFolder is
    // where readme.htm lies (no trailing "/"). printers: the installed
    // printers in the spooler's enumeration order.
    CTallowinDlg(HotFolderList& list, HotFolderThread& worker, QString applicationFolder,
                 std::vector<std::string> printers, QWidget* parent = nullptr);
    ~CTallowinDlg() override;

    // Inserts a row for the folder with this id, in name order, and returns
    // its position.
    int AddRow(int folderId);
    // Rewrites the row at this position from a fresh copy of the folder;
    // with stateOnly, only its state and error cells.
    void UpdateRow(int folderId, int row, bool stateOnly);
    // UpdateRow(stateOnly) for every row: what the timer does.
    void UpdateAllRows();
    void DeleteRow(int row);

    // The printer-name list, in enumeration order.
    const std::vector<std::string>& PrinterNames() const;
    bool IsRunning() const { return m_running != 0; }

    // The worker's Start or Stop, as the Start/Stop button does it.
    void OnStartStop();
    // Opens readme.htm beside the executable with the desktop's viewer.
    void OnHelp();
    void OnAbout();

    // The hot folder commands; each runs only while the worker is stopped
    // (the window disables their buttons while it runs).
    void OnNew();
    void OnConfigure();
    void OnDelete();
    // A double-click on the table: Configure of the selected row, silently
    // nothing while started or with no row selected.
    void OnTableDoubleClick();
    // Edits a copy of the folder in the properties dialog and stores the
    // copy back, whatever the dialog returned.
    void ConfigureHotFolder(int folderId);
    // The window's own menu (what a title bar's menu offers), with the
    // About entry last, after a separator. The caller owns it.
    std::unique_ptr<QMenu> CreateWindowMenu();

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void OnInitDialog();
    QTreeWidgetItem* Row(int row) const;
    // The first selected row in the table's order, or -1.
    int SelectedRow() const;
    int FolderIdOf(int row) const;

    std::unique_ptr<Ui::MainDialog> ui;
    HotFolderList& m_hotFolderList;
    HotFolderThread& m_hotFolderThread;
    QString m_applicationFolder;
    std::unique_ptr<PrinterPanel> m_printerPanel;
    std::vector<std::string> m_printerNames;
    int m_running = 0;
};
