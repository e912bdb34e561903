#include "ui/tallowin_dlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <chrono>
#include <map>
#include <set>

#include "engine/ports/printer_catalogue.h"
#include "res/string_table.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/hot_folder_thread.h"
#include "scheduling/profile_sync.h"
#include "scheduling/recent_print_log.h"
#include "ui/bytes_text.h"
#include "ui/hot_folder_texts.h"
#include "ui/log_view.h"
#include "ui/tray_icon.h"
#include "ui_about_dialog.h"
#include "ui_main_dialog.h"

namespace tallowin {

namespace {

enum Column { kName = 0, kState, kPrinter, kPath, kScanTime, kError, kColumns };
constexpr int kIdRole = Qt::UserRole;             // the folder id of a row
constexpr int kNameBytesRole = Qt::UserRole + 1;  // the name as stored, for ordering
constexpr int kRefreshMs = 500;
constexpr int kAboutString = 101;

// The error cell's tooltip: why the last file stayed, which file, and when.
QString FailureTip(const FailureNote& note) {
    if (note.File.empty()) return {};
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(note.Time.time_since_epoch()).count();
    const QString when = QDateTime::fromMSecsSinceEpoch(ms).toString("yyyy-MM-dd hh:mm:ss");
    QString reason = ErrorText(note.Code);
    if (!note.Reason.empty()) reason += ": " + FromBytes(note.Reason);
    return QString("%1\n%2\n%3").arg(reason, FromBytes(note.File), when);
}

// The error cell's tooltip while the printer needs attention.
QString AttentionTip(const std::string& printer, const std::string& trouble) {
    return QString("%1 cannot print now: %2\nThe pictures wait and print once it prints again.")
        .arg(FromBytes(printer), FromBytes(trouble));
}

// A folder as the tray sees it.
TrayFolder TrayRow(const HotFolder& folder) {
    TrayFolder row;
    row.Name = FromBytes(folder.GetName());
    row.Printer = FromBytes(folder.GetPrinterName());
    row.State = folder.GetState();
    row.Error = folder.GetError();
    row.PrinterTrouble = FromBytes(folder.GetPrinterTrouble());
    row.ErrorText = ErrorText(row.Error, row.PrinterTrouble);
    const FailureNote note = folder.GetLastFailure();
    if (!note.File.empty()) {
        row.FailureFile = FromBytes(note.File);
        row.FailureTimeMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(note.Time.time_since_epoch())
                .count();
        row.FailureCode = note.Code;
        row.FailureText = note.Reason.empty() ? ErrorText(note.Code) : FromBytes(note.Reason);
    }
    return row;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::AboutDialog>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
}

CAboutDlg::~CAboutDlg() = default;

CTallowinDlg::CTallowinDlg(HotFolderList& list, HotFolderThread& worker, const RecentPrintLog& log,
                           QString logFilePath, QString applicationFolder,
                           PrinterCatalogue& printers, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::MainDialog>()),
      m_hotFolderList(list),
      m_hotFolderThread(worker),
      m_log(log),
      m_logFilePath(std::move(logFilePath)),
      m_applicationFolder(std::move(applicationFolder)),
      m_printers(printers),
      m_printerNames(printers.PrinterNames()) {
    m_ui->setupUi(this);
    OnInitDialog();
}

CTallowinDlg::~CTallowinDlg() = default;

void CTallowinDlg::OnInitDialog() {
    // A fixed-size window with a minimise box and no maximise box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    QIcon icon;
    for (const char* file :
         {":/res/tallowin-16.png", ":/res/tallowin-32.png", ":/res/tallowin.png"}) {
        icon.addFile(file);
    }
    setWindowIcon(icon);

    m_printerPanel = std::make_unique<PrinterPanel>(m_ui->printerPanel, m_printers);
    m_printerPanel->Fill(m_printerNames, QIcon(":/res/printer.png"));
    connect(m_ui->printerPanel, &QListWidget::itemDoubleClicked, this,
            [this] { m_printerPanel->OpenDefaultsDialog(this); });

    QTreeWidget* table = m_ui->hotFolderTable;
    table->setColumnCount(kColumns);
    table->setHeaderLabels({"Name", "State", "Printer", "Path", "ScanTime", "Error description"});
    // Narrow enough that the error column keeps a readable width inside the
    // table at the window's fixed size.
    const int widths[kColumns] = {130, 70, 130, 220, 60, 150};
    for (int c = 0; c < kColumns; ++c) table->setColumnWidth(c, widths[c]);
    // The last column takes the rest of the width; the headings order nothing.
    table->header()->setStretchLastSection(true);
    table->header()->setSectionsClickable(false);
    table->setSortingEnabled(false);

    // Folder ids are 0 .. count-1 after the start-up load.
    for (int id = 0; id < static_cast<int>(m_hotFolderList.GetCount()); ++id) AddRow(id);

    connect(m_ui->startStopButton, &QPushButton::clicked, this, &CTallowinDlg::OnStartStop);
    connect(m_ui->helpButton, &QPushButton::clicked, this, &CTallowinDlg::OnHelp);
    connect(m_ui->logButton, &QPushButton::clicked, this, &CTallowinDlg::OnLog);
    connect(m_ui->exitButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->newButton, &QPushButton::clicked, this, &CTallowinDlg::OnNew);
    connect(m_ui->configureButton, &QPushButton::clicked, this, &CTallowinDlg::OnConfigure);
    connect(m_ui->deleteButton, &QPushButton::clicked, this, &CTallowinDlg::OnDelete);
    connect(m_ui->hotFolderTable, &QTreeWidget::itemDoubleClicked, this,
            &CTallowinDlg::OnTableDoubleClick);

    // The first tab stop has the focus, not the default button.
    m_ui->startStopButton->setFocus();

    // Where the desktop has a tray; elsewhere nothing of it is made.
    m_traySurface = SystemTraySurface::Make();
    if (m_traySurface) {
        m_tray = std::make_unique<TrayIcon>(*m_traySurface);
        connect(m_traySurface.get(), &SystemTraySurface::Clicked, this, [this] {
            showNormal();
            raise();
            activateWindow();
        });
    }
    ShowTrouble();

    auto* timer = new QTimer(this);  // owned by the window, ends with it
    connect(timer, &QTimer::timeout, this, &CTallowinDlg::OnTimer);
    timer->start(kRefreshMs);
}

const std::vector<std::string>& CTallowinDlg::PrinterNames() const {
    return m_printerNames;
}

QTreeWidgetItem* CTallowinDlg::Row(int row) const {
    return m_ui->hotFolderTable->topLevelItem(row);
}

int CTallowinDlg::AddRow(int folderId) {
    HotFolder folder;
    m_hotFolderList.Get(folderId, folder);
    const QByteArray name = QByteArray::fromStdString(folder.GetName());
    // Sorted into place by name, in byte order, on insertion only: a row
    // whose folder is renamed later keeps its place.
    QTreeWidget* table = m_ui->hotFolderTable;
    int position = table->topLevelItemCount();
    for (int row = 0; row < table->topLevelItemCount(); ++row) {
        if (name < Row(row)->data(kName, kNameBytesRole).toByteArray()) {
            position = row;
            break;
        }
    }
    auto* item = new QTreeWidgetItem();  // the table takes ownership
    item->setText(kName, FromBytes(folder.GetName()));
    item->setData(kName, kIdRole, folderId);
    item->setData(kName, kNameBytesRole, name);
    table->insertTopLevelItem(position, item);
    UpdateRow(folderId, position, false);
    return position;
}

void CTallowinDlg::UpdateRow(int folderId, int row, bool stateOnly) {
    QTreeWidgetItem* item = Row(row);
    if (item == nullptr) return;
    HotFolder folder;
    m_hotFolderList.Get(folderId, folder);
    if (!stateOnly) {
        item->setText(kName, FromBytes(folder.GetName()));
        item->setData(kName, kIdRole, folderId);
        item->setText(kPrinter, FromBytes(folder.GetPrinterName()));
        item->setText(kPath, FromBytes(folder.GetFolderPath()));
        item->setText(kScanTime, QString::number(folder.GetScanTime()));
    }
    const std::string trouble = folder.GetPrinterTrouble();
    item->setText(kError, ErrorText(folder.GetError(), FromBytes(trouble)));
    item->setToolTip(kError, folder.GetError() == HF_ERR_PRINTER_ATTENTION
                                 ? AttentionTip(folder.GetPrinterName(), trouble)
                                 : FailureTip(folder.GetLastFailure()));
    item->setText(kState, StateText(folder.GetState()));
}

int CTallowinDlg::FolderIdOf(int row) const {
    return Row(row)->data(kName, kIdRole).toInt();
}

void CTallowinDlg::UpdateAllRows() {
    for (int row = 0; row < m_ui->hotFolderTable->topLevelItemCount(); ++row) {
        UpdateRow(FolderIdOf(row), row, true);
    }
}

void CTallowinDlg::DeleteRow(int row) {
    delete m_ui->hotFolderTable->takeTopLevelItem(row);
}

void CTallowinDlg::OnStartStop() {
    switch (m_run) {
        case Run::Stopped:
            m_ui->configureButton->setEnabled(false);
            m_ui->deleteButton->setEnabled(false);
            m_ui->newButton->setEnabled(false);
            m_ui->startStopButton->setText("Stop");
            m_hotFolderThread.Start();
            m_run = Run::Running;
            break;
        case Run::Running:
            RequestStop();
            break;
        case Run::Stopping:
            break;  // the button is disabled meanwhile
    }
}

void CTallowinDlg::RequestStop() {
    // The worker finishes the file it is sending; the window stays
    // responsive and the timer notices when the worker is idle.
    m_hotFolderThread.RequestStop();
    m_run = Run::Stopping;
    m_ui->startStopButton->setText(QString::fromUtf8("Stopping\u2026"));
    m_ui->startStopButton->setEnabled(false);
    m_ui->exitButton->setEnabled(false);
    if (m_hotFolderThread.IsIdle()) FinishStop();
}

void CTallowinDlg::FinishStop() {
    m_run = Run::Stopped;
    m_ui->configureButton->setEnabled(true);
    m_ui->deleteButton->setEnabled(true);
    m_ui->newButton->setEnabled(true);
    m_ui->startStopButton->setText("Start");
    m_ui->startStopButton->setEnabled(true);
    m_ui->exitButton->setEnabled(true);
    UpdateAllRows();
    if (m_closeWith) {
        // The save at exit takes in what is still pending.
        m_restartAfterTakeIn = false;
        const int result = *m_closeWith;
        m_closeWith.reset();
        done(result);
        return;
    }
    if (m_restartAfterTakeIn) {
        m_restartAfterTakeIn = false;
        TakeInProfile();
        OnStartStop();
    }
}

void CTallowinDlg::OnTimer() {
    UpdateAllRows();
    ShowTrouble();
    if (m_run == Run::Stopping && m_hotFolderThread.IsIdle()) FinishStop();
    CheckProfile();
}

void CTallowinDlg::ShowTrouble() {
    std::vector<TrayFolder> rows;
    std::map<std::string, std::string> printers;
    std::set<std::string> watched;
    for (const HotFolder& folder : m_hotFolderList.GetAll()) {
        if (folder.GetError() == HF_ERR_PRINTER_ATTENTION) {
            printers[folder.GetPrinterName()] = folder.GetPrinterTrouble();
        }
        if (m_run == Run::Running) watched.insert(folder.GetPrinterName());
        rows.push_back(TrayRow(folder));
    }
    m_printerPanel->ShowTrouble(printers, watched);
    if (m_tray) m_tray->Refresh(m_run != Run::Stopped, rows);
}

void CTallowinDlg::CheckProfile() {
    if (m_profile == nullptr || m_closeWith) return;
    if (!m_takeInPending) m_takeInPending = m_profile->Changed();
    if (!m_takeInPending) return;
    // A folder dialog edits a folder by its id, which a take-in renumbers.
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal != this) return;
    switch (m_run) {
        case Run::Stopped:
            TakeInProfile();
            break;
        case Run::Running:
            m_restartAfterTakeIn = true;
            RequestStop();
            break;
        case Run::Stopping:
            break;  // FinishStop, or the next tick once stopped
    }
}

void CTallowinDlg::TakeInProfile() {
    m_takeInPending = false;
    if (!m_profile->TakeIn()) return;  // the folders stay; the print log says why
    // The folders have new ids, 0 .. count-1.
    m_ui->hotFolderTable->clear();
    for (int id = 0; id < static_cast<int>(m_hotFolderList.GetCount()); ++id) AddRow(id);
}

void CTallowinDlg::done(int result) {
    if (m_run == Run::Stopped) {
        if (m_logView != nullptr) m_logView->close();  // it goes with the window
        QDialog::done(result);
        return;
    }
    m_closeWith = result;
    if (m_run == Run::Running) RequestStop();
}

void CTallowinDlg::OnHelp() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(m_applicationFolder + "/readme.htm"));
}

void CTallowinDlg::OnLog() {
    if (m_logView == nullptr) m_logView = new LogView(m_log, m_logFilePath, this);
    std::vector<std::string> names;
    m_hotFolderList.GetNames(names);
    m_logView->SetHotFolders(names);
    m_logView->show();
    m_logView->raise();
    m_logView->activateWindow();
}

void CTallowinDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

std::unique_ptr<QMenu> CTallowinDlg::CreateWindowMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction("Mi&nimize", this, &QWidget::showMinimized);
    menu->addAction("&Close", this, &QWidget::close);
    const QString about = LoadString(kAboutString);
    if (!about.isEmpty()) {
        menu->addSeparator();
        menu->addAction(about, this, &CTallowinDlg::OnAbout);
    }
    return menu;
}

void CTallowinDlg::contextMenuEvent(QContextMenuEvent* event) {
    CreateWindowMenu()->exec(event->globalPos());
}

}  // namespace tallowin
