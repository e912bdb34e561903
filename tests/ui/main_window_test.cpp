// The main window on the offscreen platform: the hot folder table, its
// refresh, Start/Stop (and the wind-down after Stop), closing while running,
// Help, Log, the window menu and the printer panel. The worker runs for real on real folders
// whose files are the fake lister's; jobs go to a recording spooler.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include "app/profile_sync.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/window_rig.h"
#include "ui/hot_folder_texts.h"
#include "ui/log_view.h"
#include "ui/tallowin_dlg.h"

using namespace tallowin;

namespace {

// Receives the URLs the window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    struct Rig : WindowRig {
        explicit Rig(const std::string& ini) : WindowRig(ini, {"zeta", "Alpha"}) {}
        QPushButton* Button(const char* name) const { return dlg->findChild<QPushButton*>(name); }
        QString Cell(int row, int column) const { return Table()->topLevelItem(row)->text(column); }
    };

    // One hot folder on path with a scan time of 0: scanned as often as the
    // worker can.
    static std::string OneFolder(const std::string& path) {
        return "[Init]\nFHNumber=1\n[HotFolder0]\nName=fast\nFolderPath=" + path +
               "\nPrinterName=printer\nScanTime=0\n";
    }
    // Starts the worker and holds its first job at the gate.
    static void StartWithAJobHeld(Rig& rig, const std::string& path) {
        rig.gate.Close();
        rig.Drop(path, "photo.jpg");
        QTest::mouseClick(rig.Button("startStopButton"), Qt::LeftButton);
        QVERIFY(rig.gate.WaitForJobs(1));
    }

    static std::string Profile(const std::string& path) {
        return "[Init]\nFHNumber=3\n"
               "[HotFolder0]\nName=beta\nFolderPath=" +
               path +
               "\nPrinterName=P0\nScanTime=5\n"
               "[HotFolder1]\nName=Zulu\nFolderPath=/missing/folder\nPrinterName=P1\nScanTime=7\n"
               "[HotFolder2]\nName=alpha\nFolderPath=" +
               path + "\nPrinterName=P2\nScanTime=9\n";
    }

  private slots:
    void tableIsFilledInIdOrderAndSortedByName() {
        Rig rig(Profile("/tmp"));
        QTreeWidget* table = rig.Table();
        QCOMPARE(table->topLevelItemCount(), 3);
        // Byte order: upper case first.
        QCOMPARE(rig.Cell(0, 0), QString("Zulu"));
        QCOMPARE(rig.Cell(1, 0), QString("alpha"));
        QCOMPARE(rig.Cell(2, 0), QString("beta"));
        QCOMPARE(rig.IdOf(0), 1);
        QCOMPARE(rig.IdOf(1), 2);
        QCOMPARE(rig.IdOf(2), 0);
        QCOMPARE(rig.Cell(1, 1), QString("Waiting"));
        QCOMPARE(rig.Cell(1, 2), QString("P2"));
        QCOMPARE(rig.Cell(1, 3), QString("/tmp"));
        QCOMPARE(rig.Cell(1, 4), QString("9"));
        QCOMPARE(rig.Cell(1, 5), QString("No errors"));
        QVERIFY(table->selectedItems().isEmpty());
    }

    // The window lists the catalogue's printers, read once, and a
    // double-click opens the defaults of the one under it, over the window.
    void printerPanelShowsAndEditsTheCataloguesPrinters() {
        Rig rig(Profile("/tmp"));
        rig.printers.choices["zeta"] = {{"sides", "Sides", {{"one-sided", "One"}}, "one-sided"}};
        auto* panel = rig.dlg->findChild<QListWidget*>("printerPanel");
        QVERIFY(panel != nullptr);
        QCOMPARE(panel->count(), 2);
        QCOMPARE(panel->item(0)->text(), QString("Alpha"));
        QCOMPARE(panel->item(1)->text(), QString("zeta"));
        QVERIFY(rig.dlg->PrinterNames() == (std::vector<std::string>{"zeta", "Alpha"}));
        QCOMPARE(rig.printers.nameReads, 1);

        QWidget* parentOfDialog = nullptr;
        QTimer::singleShot(0, [&parentOfDialog] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                parentOfDialog = modal->parentWidget();
                modal->close();
            }
        });
        panel->item(1)->setSelected(true);
        emit panel->itemDoubleClicked(panel->item(1));
        QVERIFY(rig.printers.choiceReads == std::vector<std::string>{"zeta"});
        QCOMPARE(parentOfDialog, rig.dlg.get());
        QVERIFY(rig.printers.stored.empty());
    }

    void columnsHaveTheirHeadingsAndWidths() {
        Rig rig("");
        QTreeWidget* table = rig.Table();
        QCOMPARE(table->topLevelItemCount(), 0);
        const QStringList headings{"Name", "State",    "Printer",
                                   "Path", "ScanTime", "Error description"};
        const int widths[] = {130, 70, 130, 220, 60};
        QCOMPARE(table->columnCount(), 6);
        for (int c = 0; c < 6; ++c) QCOMPARE(table->headerItem()->text(c), headings[c]);
        for (int c = 0; c < 5; ++c) QCOMPARE(table->columnWidth(c), widths[c]);
        QVERIFY(table->header()->stretchLastSection());
        QVERIFY(!table->header()->sectionsClickable());
        QVERIFY(!table->isSortingEnabled());
        rig.dlg->UpdateAllRows();  // nothing to do, nothing breaks
    }

    void errorColumnIsReadableAtTheDefaultSize() {
        Rig rig(Profile("/tmp"));
        rig.dlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.dlg.get()));
        QTreeWidget* table = rig.Table();
        QHeaderView* header = table->header();
        const int left = header->sectionViewportPosition(5);
        QVERIFY2(
            left >= 0 && left + 120 <= table->viewport()->width(),
            qPrintable(
                QString("error column at %1 of %2").arg(left).arg(table->viewport()->width())));
        QVERIFY(header->sectionSize(5) >= 120);
    }

    void stateAndErrorTexts_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("error");
        const char* states[] = {"Waiting", "Error",   "Running", "Resizing", "Printing",
                                "Unknown", "Unknown", "Unknown", "Unknown",  "Unknown"};
        const char* errors[] = {"No errors",
                                "Path is not valid",
                                "Printer name is not valid",
                                "Not a picture or unsupported format",
                                "Damaged or incomplete picture",
                                "Picture too large",
                                "Printer cannot be reached",
                                "Printer refused or aborted the job",
                                "Printer gives no usable page size",
                                "Printed but could not be deleted"};
        for (int v = 0; v < 10; ++v) {
            QTest::addRow("%d", v) << v << QString(states[v]) << QString(errors[v]);
        }
        QTest::addRow("duplicate")
            << int(HF_ERR_DUPLICATE) << QString() << QString("Same folder as another hot folder");
        QTest::addRow("protected") << int(HF_ERR_PROTECTED) << QString()
                                   << QString(
                                          "Document needs a password or does not allow "
                                          "printing");
        QTest::addRow("no pages") << int(HF_ERR_NO_PAGES) << QString()
                                  << QString("Document has no pages");
        QTest::addRow("settings") << int(HF_ERR_SETTINGS) << QString()
                                  << QString("Print settings need correcting");
    }
    void stateAndErrorTexts() {
        QFETCH(int, value);
        QFETCH(QString, state);
        QFETCH(QString, error);
        QCOMPARE(StateText(value), state);
        QCOMPARE(ErrorText(value), error);
    }

    void refreshRewritesOnlyStateAndErrorCells() {
        TempDir hot;
        Rig rig(Profile(hot.Path()));
        // Someone renames folder 0 while stopped, and the cells are marked.
        HotFolder renamed;
        rig.list.Get(0, renamed);
        renamed.SetName("aaa-renamed");
        rig.list.Set(0, renamed);
        rig.Table()->topLevelItem(2)->setText(3, "marked");
        rig.list.StartAll();
        rig.dlg->UpdateAllRows();
        QCOMPARE(rig.Cell(2, 0), QString("beta"));
        QCOMPARE(rig.Cell(2, 3), QString("marked"));
        QCOMPARE(rig.Cell(2, 1), QString("Running"));
        // A full update renames the row in its place.
        rig.dlg->UpdateRow(0, 2, false);
        QCOMPARE(rig.Cell(2, 0), QString("aaa-renamed"));
        QCOMPARE(rig.Cell(2, 3), QString::fromStdString(hot.Path()));
        QCOMPARE(rig.IdOf(2), 0);
        rig.list.StopAll();
    }

    void timerRefreshesTwiceASecond() {
        Rig rig(Profile("/tmp"));
        rig.list.StartAll();
        QTRY_COMPARE_WITH_TIMEOUT(rig.Cell(0, 1), QString("Running"), 5000);
        rig.list.StopAll();
        QTRY_COMPARE_WITH_TIMEOUT(rig.Cell(0, 1), QString("Waiting"), 5000);
    }

    // A hand edit of the profile: a new file renamed over it, as editors do.
    static void EditProfile(const Rig& rig, const std::string& text) {
        const std::string path = rig.dir / "tallowin.ini";
        WriteFile(path + ".new", text);
        QCOMPARE(rename((path + ".new").c_str(), path.c_str()), 0);
    }
    static std::string TwoFolders(const std::string& path, const char* printer) {
        return "[Init]\nFHNumber=2\n[HotFolder0]\nName=fast\nFolderPath=" + path +
               "\nPrinterName=" + printer +
               "\nScanTime=1\n[HotFolder1]\nName=added\nFolderPath=" + path +
               "\nPrinterName=P9\nScanTime=1\n";
    }

    void handEditShowsInTheTableWhileStopped() {
        TempDir hot;
        Rig rig(OneFolder(hot.Path()));
        DiskProfileSync sync(IniProfile(rig.dir / "tallowin.ini"), rig.list, rig.log);
        rig.dlg->FollowProfile(sync);
        EditProfile(rig, TwoFolders(hot.Path(), "changed"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Table()->topLevelItemCount(), 2, 5000);
        QCOMPARE(rig.Cell(0, 0), QString("added"));
        QCOMPARE(rig.Cell(1, 0), QString("fast"));
        QCOMPARE(rig.Cell(1, 2), QString("changed"));
        QVERIFY(!rig.list.HasOwnChanges());
    }

    void handEditStopsAndRestartsARunningWorker() {
        TempDir hot;
        Rig rig(OneFolder(hot.Path()));
        DiskProfileSync sync(IniProfile(rig.dir / "tallowin.ini"), rig.list, rig.log);
        rig.dlg->FollowProfile(sync);
        QTest::mouseClick(rig.Button("startStopButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Cell(0, 1), QString("Running"), 5000);
        EditProfile(rig, TwoFolders(hot.Path(), "changed"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Table()->topLevelItemCount(), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Cell(0, 1), QString("Running"), 5000);
        QCOMPARE(rig.Cell(1, 2), QString("changed"));
        QVERIFY(rig.dlg->IsRunning());
        QCOMPARE(rig.Button("startStopButton")->text(), QString("Stop"));
        QTest::mouseClick(rig.Button("startStopButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.dlg->IsStopping(), 5000);
    }

    void handEditKeepsTheWindowsOwnChanges() {
        TempDir hot;
        Rig rig(OneFolder(hot.Path()));
        DiskProfileSync sync(IniProfile(rig.dir / "tallowin.ini"), rig.list, rig.log);
        rig.dlg->FollowProfile(sync);
        rig.dlg->AddRow(rig.list.Add(HotFolder("mine", hot.Path(), "P1", 5)));
        EditProfile(rig, TwoFolders(hot.Path(), "changed"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Table()->topLevelItemCount(), 3, 5000);
        QCOMPARE(rig.Cell(0, 0), QString("added"));
        QCOMPARE(rig.Cell(2, 0), QString("mine"));
        QVERIFY(rig.list.HasOwnChanges());
        QCOMPARE(rig.log.Count(), std::uint64_t{1});  // the print log says it kept them
    }

    void startStopTogglesCaptionsCommandsAndWorker() {
        TempDir hot;
        Rig rig(Profile(hot.Path()));
        QPushButton* startStop = rig.Button("startStopButton");
        QCOMPARE(startStop->text(), QString("&Start"));
        QVERIFY(rig.Button("newButton")->isEnabled());

        QTest::mouseClick(startStop, Qt::LeftButton);
        QCOMPARE(startStop->text(), QString("Stop"));
        QVERIFY(rig.dlg->IsRunning());
        for (const char* b : {"newButton", "configureButton", "deleteButton"}) {
            QVERIFY2(!rig.Button(b)->isEnabled(), b);
        }
        QVERIFY(rig.Button("helpButton")->isEnabled());
        QVERIFY(rig.Button("exitButton")->isEnabled());
        // The worker took the run up: the timer shows the folders running.
        QTRY_COMPARE_WITH_TIMEOUT(rig.Cell(1, 1), QString("Running"), 5000);

        QTest::mouseClick(startStop, Qt::LeftButton);
        QVERIFY(!rig.dlg->IsRunning());
        QTRY_COMPARE_WITH_TIMEOUT(startStop->text(), QString("Start"), 5000);
        for (const char* b :
             {"newButton", "configureButton", "deleteButton", "startStopButton", "exitButton"}) {
            QVERIFY2(rig.Button(b)->isEnabled(), b);
        }
        // Rewritten as soon as the worker is idle.
        for (int row = 0; row < 3; ++row) QCOMPARE(rig.Cell(row, 1), QString("Waiting"));
    }

    void stopWindsDownWithoutBlockingAndThenRecovers() {
        TempDir hot;
        Rig rig(OneFolder(hot.Path()));
        StartWithAJobHeld(rig, hot.Path());
        QPushButton* startStop = rig.Button("startStopButton");
        QTest::mouseClick(startStop, Qt::LeftButton);  // returns with the job still held
        QVERIFY(rig.dlg->IsStopping());
        QCOMPARE(startStop->text(), QString::fromUtf8("Stopping\u2026"));
        for (const char* b :
             {"startStopButton", "exitButton", "newButton", "configureButton", "deleteButton"}) {
            QVERIFY2(!rig.Button(b)->isEnabled(), b);
        }
        QVERIFY(rig.Button("helpButton")->isEnabled());
        // The window keeps refreshing while the worker winds down.
        QTRY_COMPARE_WITH_TIMEOUT(rig.Cell(0, 1), QString("Printing"), 5000);
        rig.gate.Open();
        QTRY_COMPARE_WITH_TIMEOUT(startStop->text(), QString("Start"), 5000);
        QVERIFY(!rig.dlg->IsStopping());
        for (const char* b :
             {"startStopButton", "exitButton", "newButton", "configureButton", "deleteButton"}) {
            QVERIFY2(rig.Button(b)->isEnabled(), b);
        }
        QCOMPARE(rig.Cell(0, 1), QString("Waiting"));
    }

    void closingWhileRunningStopsFirstAndClosesOnceIdle_data() {
        QTest::addColumn<bool>("byExit");
        QTest::addRow("Exit") << true;
        QTest::addRow("close request") << false;  // what a termination signal does
    }
    void closingWhileRunningStopsFirstAndClosesOnceIdle() {
        QFETCH(bool, byExit);
        TempDir hot;
        Rig rig(OneFolder(hot.Path()));
        rig.dlg->show();
        StartWithAJobHeld(rig, hot.Path());
        if (byExit) {
            QTest::mouseClick(rig.Button("exitButton"), Qt::LeftButton);
        } else {
            rig.dlg->close();
        }
        QVERIFY(rig.dlg->isVisible());
        QVERIFY(rig.dlg->IsStopping());
        QVERIFY(!rig.Button("exitButton")->isEnabled());
        rig.gate.Open();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.dlg->isVisible(), 5000);
        QCOMPARE(rig.dlg->result(), int(byExit ? QDialog::Accepted : QDialog::Rejected));
        QVERIFY(rig.worker.IsIdle());
    }

    void errorTooltipTellsTheReasonTheFileAndTheTime() {
        TempDir hot;
        Rig rig(OneFolder(hot.Path()));
        rig.Drop(hot.Path(), "notes.txt", /*image=*/false);
        QTest::mouseClick(rig.Button("startStopButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Cell(0, 5), QString("Not a picture or unsupported format"),
                                  5000);
        const QString tip = rig.Table()->topLevelItem(0)->toolTip(5);
        QVERIFY2(tip.contains("no image"), qPrintable(tip));
        QVERIFY2(tip.contains(QString::fromStdString(hot / "notes.txt")), qPrintable(tip));
        QVERIFY2(tip.contains(QDate::currentDate().toString("yyyy-MM-dd")), qPrintable(tip));
        QTest::mouseClick(rig.Button("startStopButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.Button("startStopButton")->text(), QString("Start"), 5000);
    }

    void logButtonShowsTheLogViewFilteredByTodaysFolders() {
        Rig rig(Profile("/tmp"));
        rig.dlg->show();
        QTest::mouseClick(rig.Button("logButton"), Qt::LeftButton);
        auto* view = rig.dlg->findChild<LogView*>();
        QVERIFY(view != nullptr);
        QVERIFY(view->isVisible());
        QVERIFY(!view->isModal());
        auto* filter = view->findChild<QComboBox*>("logFilter");
        QCOMPARE(filter->count(), 4);
        QCOMPARE(filter->itemText(0), QString("All"));
        QCOMPARE(filter->itemText(1), QString("beta"));  // id order
        // A second click shows the same view.
        QTest::mouseClick(rig.Button("logButton"), Qt::LeftButton);
        QCOMPARE(rig.dlg->findChildren<LogView*>().size(), 1);
        // It goes with the window.
        QTest::mouseClick(rig.Button("exitButton"), Qt::LeftButton);
        QVERIFY(!view->isVisible());
    }

    void helpOpensReadmeBesideTheExecutable() {
        Rig rig("");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "Open");
        QTest::mouseClick(rig.Button("helpButton"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls[0], QUrl::fromLocalFile("/opt/tallowin/readme.htm"));
    }

    void windowMenuEndsWithAboutAfterASeparator() {
        Rig rig("");
        const std::unique_ptr<QMenu> menu = rig.dlg->CreateWindowMenu();
        const QList<QAction*> actions = menu->actions();
        QVERIFY(actions.size() >= 2);
        QVERIFY(actions[actions.size() - 2]->isSeparator());
        QCOMPARE(actions.last()->text(), QString("&About Tallowin..."));
    }

    void exitAndEscapeEndTheWindow() {
        Rig rig("");
        rig.dlg->show();
        QTest::mouseClick(rig.Button("exitButton"), Qt::LeftButton);
        QCOMPARE(rig.dlg->result(), int(QDialog::Accepted));
        QVERIFY(!rig.dlg->isVisible());
        rig.dlg->show();
        QTest::keyClick(rig.dlg.get(), Qt::Key_Escape);
        QCOMPARE(rig.dlg->result(), int(QDialog::Rejected));
        QVERIFY(!rig.dlg->isVisible());
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
