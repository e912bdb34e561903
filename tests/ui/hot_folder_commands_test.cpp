// New, Configure (button and double-click) and Delete on the main window,
// on the offscreen platform. Message boxes are answered through their seam;
// the properties dialog is driven like a user would, while it is open.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

#include "tests/support/temp_dir.h"
#include "tests/ui/window_rig.h"
#include "ui/hot_folder_prop_dlg.h"
#include "ui/message_box.h"
#include "ui/tallowin_dlg.h"

using namespace tallowin;

namespace {

struct Message {
    QString text, caption;
    unsigned flags;
};

// Runs act on the properties dialog as soon as it is open (modal), once.
void WhenDialogOpens(std::function<void(CHotFolderPropDlg&)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        auto* dlg = qobject_cast<CHotFolderPropDlg*>(QApplication::activeModalWidget());
        if (dlg == nullptr || !dlg->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        act(*dlg);
    });
    poll->start(10);
}

void Type(CHotFolderPropDlg& dlg, const char* field, const QString& text) {
    auto* edit = dlg.findChild<QLineEdit*>(field);
    QVERIFY2(edit != nullptr, field);
    edit->setText(text);
}
void Press(CHotFolderPropDlg& dlg, const char* button) {
    QTest::mouseClick(dlg.findChild<QPushButton*>(button), Qt::LeftButton);
}

}  // namespace

class HotFolderCommandsTest : public QObject {
    Q_OBJECT

    struct Rig : WindowRig {
        std::vector<Message> messages;
        int answer = IDOK;

        // Three folders; the printers enumerate "zeta-printer" first, which
        // the sorted panel shows last.
        explicit Rig(std::vector<std::string> printers = {"zeta-printer", "Alpha"},
                     const std::string& profile =
                         "[Init]\nFHNumber=3\n"
                         "[HotFolder0]\nName=beta\nFolderPath=/b\nPrinterName=Alpha\nScanTime=5\n"
                         "[HotFolder1]\nName=Zulu\nFolderPath=/z\nPrinterName=Alpha\nScanTime=7\n"
                         "[HotFolder2]\nName=alpha\nFolderPath=/a\nPrinterName=Alpha\nScanTime=9\n")
            : WindowRig(profile, std::move(printers), "/opt") {
            SetMessageBoxHandler([this](const QString& t, const QString& c, unsigned f) {
                messages.push_back({t, c, f});
                return answer;
            });
        }
        ~Rig() { SetMessageBoxHandler({}); }
        void Select(int row) { Table()->topLevelItem(row)->setSelected(true); }
        QString Name(int row) const { return Table()->topLevelItem(row)->text(0); }
        HotFolder Folder(int id) {
            HotFolder f;
            list.Get(id, f);
            return f;
        }
        // Every row still shows its own hot folder.
        void CheckRowsMatchFolders() {
            for (int row = 0; row < Table()->topLevelItemCount(); ++row) {
                QCOMPARE(Name(row).toStdString(), Folder(IdOf(row)).GetName());
            }
        }
    };

  private slots:
    void newWithoutPrintersRefusesWithoutADialog() {
        Rig rig(std::vector<std::string>{});
        rig.dlg->OnNew();
        QCOMPARE(rig.messages.size(), size_t{1});
        QCOMPARE(rig.messages[0].text, QString("There is no printers installed!"));
        QCOMPARE(rig.messages[0].caption, QString("Error"));
        QCOMPARE(rig.messages[0].flags, unsigned{MB_OK});
        QCOMPARE(rig.list.GetCount(), 3u);
    }

    void newPreselectsTheFirstEnumeratedPrinterAndAddsOneRow() {
        Rig rig;
        QString shownPrinter;
        WhenDialogOpens([&](CHotFolderPropDlg& d) {
            shownPrinter = d.findChild<QComboBox*>("printerCombo")->currentText();
            Type(d, "nameEdit", "gamma");
            Type(d, "folderPathEdit", "/g");
            Type(d, "scanTimeEdit", "12");
            Press(d, "okButton");
        });
        rig.dlg->OnNew();
        QCOMPARE(shownPrinter, QString("zeta-printer"));
        QCOMPARE(rig.list.GetCount(), 4u);
        QCOMPARE(rig.Table()->topLevelItemCount(), 4);
        QCOMPARE(rig.Name(3), QString("gamma"));  // sorted into place: Zulu alpha beta gamma
        const HotFolder added = rig.Folder(rig.IdOf(3));
        QCOMPARE(added.GetPrinterName(), std::string("zeta-printer"));
        QCOMPARE(added.GetFolderPath(), std::string("/g"));
        QCOMPARE(added.GetScanTime(), 12);
        QVERIFY(rig.messages.empty());
        rig.CheckRowsMatchFolders();
    }

    void newCancelledAddsNothingAndNewRefusesATakenName() {
        Rig rig;
        WhenDialogOpens([&](CHotFolderPropDlg& d) {
            Type(d, "nameEdit", "beta");
            Press(d, "okButton");  // refused: taken
            Press(d, "cancelButton");
        });
        rig.dlg->OnNew();
        QCOMPARE(rig.messages.size(), size_t{1});
        QCOMPARE(rig.messages[0].text, QString("Hot folder beta already exists!"));
        QCOMPARE(rig.list.GetCount(), 3u);
        QCOMPARE(rig.Table()->topLevelItemCount(), 3);
    }

    void configureAndDeleteWithoutSelectionSayNothingIsSelected() {
        Rig rig;
        rig.dlg->OnConfigure();
        rig.dlg->OnDelete();
        QCOMPARE(rig.messages.size(), size_t{2});
        QCOMPARE(rig.messages[0].text, QString("There is no hot folder selected!"));
        QCOMPARE(rig.messages[0].caption, QString("Configure"));
        QCOMPARE(rig.messages[0].flags, unsigned{MB_OK | MB_ICONEXCLAMATION});
        QCOMPARE(rig.messages[1].text, QString("There is no hot folder selected!"));
        QCOMPARE(rig.messages[1].caption, QString("Delete"));
        QCOMPARE(rig.list.GetCount(), 3u);
    }

    void configureKeepsItsOwnNameAndARenameKeepsTheRowsPlace() {
        Rig rig;
        rig.Select(2);  // beta, id 0
        WhenDialogOpens([&](CHotFolderPropDlg& d) {
            Type(d, "scanTimeEdit", "30");
            Press(d, "okButton");  // its own name is not taken
        });
        rig.dlg->OnConfigure();
        QVERIFY(rig.messages.empty());
        QCOMPARE(rig.Folder(0).GetScanTime(), 30);
        QCOMPARE(rig.Table()->topLevelItem(2)->text(4), QString("30"));

        WhenDialogOpens([&](CHotFolderPropDlg& d) {
            Type(d, "nameEdit", "AAA first by name");
            Press(d, "okButton");
        });
        rig.dlg->OnConfigure();
        QCOMPARE(rig.Name(2), QString("AAA first by name"));  // not re-sorted
        QCOMPARE(rig.IdOf(2), 0);
        QCOMPARE(rig.Folder(0).GetName(), std::string("AAA first by name"));
        rig.CheckRowsMatchFolders();
    }

    void configureRefusesAnotherFoldersNameAndCancelKeepsTheFolder() {
        Rig rig;
        rig.Select(2);  // beta
        WhenDialogOpens([&](CHotFolderPropDlg& d) {
            Type(d, "nameEdit", "alpha");
            Type(d, "scanTimeEdit", "99");
            Press(d, "okButton");  // refused
            Press(d, "cancelButton");
        });
        rig.dlg->OnConfigure();
        QCOMPARE(rig.messages.size(), size_t{1});
        QCOMPARE(rig.messages[0].text, QString("Hot folder alpha already exists!"));
        const HotFolder kept = rig.Folder(0);
        QCOMPARE(kept.GetName(), std::string("beta"));
        QCOMPARE(kept.GetScanTime(), 5);
        QCOMPARE(rig.Name(2), QString("beta"));
    }

    void newAndConfigureRefuseTheFolderOfAnotherHotFolder() {
        TempDir dir;
        QVERIFY(QDir().mkpath(QString::fromStdString(dir / "one")));
        QVERIFY(QDir().mkpath(QString::fromStdString(dir / "two")));
        Rig rig({"Alpha"},
                "[Init]\nFHNumber=2\n"
                "[HotFolder0]\nName=one\nFolderPath=" +
                    dir / "one" +
                    "\nPrinterName=Alpha\nScanTime=5\n"
                    "[HotFolder1]\nName=two\nFolderPath=" +
                    dir / "two" + "\nPrinterName=Alpha\nScanTime=5\n");
        const auto enter = [&](const std::string& name, const std::string& path) {
            WhenDialogOpens([=](CHotFolderPropDlg& d) {
                Type(d, "nameEdit", QString::fromStdString(name));
                Type(d, "folderPathEdit", QString::fromStdString(path));
                Press(d, "okButton");
                if (d.isVisible()) Press(d, "cancelButton");
            });
        };
        enter("three", dir / "one/");
        rig.dlg->OnNew();
        rig.Select(0);              // one, id 0
        enter("one", dir / "one");  // its own folder
        rig.dlg->OnConfigure();
        enter("one", dir / "two");
        rig.dlg->OnConfigure();
        QCOMPARE(rig.messages.size(), size_t{2});
        QCOMPARE(rig.messages[0].text, QString("Hot folder one already watches this folder!"));
        QCOMPARE(rig.messages[1].text, QString("Hot folder two already watches this folder!"));
        QCOMPARE(rig.list.GetCount(), 2u);
        QCOMPARE(rig.Folder(0).GetFolderPath(), dir / "one");
    }

    void deleteAsksAndOnlyOkRemoves() {
        Rig rig;
        rig.Select(1);  // alpha, id 2
        rig.answer = IDCANCEL;
        rig.dlg->OnDelete();
        QCOMPARE(rig.messages.size(), size_t{1});
        QCOMPARE(rig.messages[0].text, QString("Are you sure to delete hot folder alpha?"));
        QCOMPARE(rig.messages[0].caption, QString("Delete"));
        QCOMPARE(rig.messages[0].flags, unsigned{MB_OKCANCEL | MB_ICONQUESTION});
        QCOMPARE(rig.list.GetCount(), 3u);
        QCOMPARE(rig.Table()->topLevelItemCount(), 3);

        rig.answer = IDOK;
        rig.dlg->OnDelete();
        QCOMPARE(rig.list.GetCount(), 2u);
        QCOMPARE(rig.Table()->topLevelItemCount(), 2);
        HotFolder gone;
        QVERIFY(!rig.list.Get(2, gone));
        QCOMPARE(rig.Name(0), QString("Zulu"));
        QCOMPARE(rig.Name(1), QString("beta"));
        rig.CheckRowsMatchFolders();
        // The freed id is reused by the next New.
        WhenDialogOpens([&](CHotFolderPropDlg& d) {
            Type(d, "nameEdit", "again");
            Press(d, "okButton");
        });
        rig.dlg->OnNew();
        HotFolder again;
        QVERIFY(rig.list.Get(2, again));
        QCOMPARE(again.GetName(), std::string("again"));
        rig.CheckRowsMatchFolders();
    }

    void doubleClickConfiguresOnlyWhenStoppedAndSelected() {
        Rig rig;
        bool opened = false;
        auto recordAndCancel = [&](CHotFolderPropDlg& d) {
            opened = true;
            Press(d, "cancelButton");
        };
        rig.dlg->OnTableDoubleClick();  // nothing selected: nothing, not even a message
        QVERIFY(rig.messages.empty());

        rig.Select(0);
        rig.dlg->OnStartStop();  // started
        WhenDialogOpens(recordAndCancel);
        rig.dlg->OnTableDoubleClick();
        QTest::qWait(100);
        QVERIFY(!opened);
        rig.dlg->OnStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.dlg->IsStopping(), 5000);  // stopped

        rig.dlg->OnTableDoubleClick();
        QVERIFY(opened);
        QVERIFY(rig.messages.empty());
        rig.CheckRowsMatchFolders();
    }
};

QTEST_MAIN(HotFolderCommandsTest)
#include "hot_folder_commands_test.moc"
