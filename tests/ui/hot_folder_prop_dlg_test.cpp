// The hot folder properties dialog on the offscreen platform: what it shows
// when it opens, the checks of OK in their order with their messages, what
// it writes into the hot folder and when, and Browse. Each test runs the
// dialog modally and acts as the user while it is open; message boxes are
// answered and recorded through the message box seam.
#include "ui/hot_folder_prop_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <climits>
#include <functional>
#include <optional>

#include "engine/hot_folder.h"
#include "tests/support/temp_dir.h"
#include "ui/folder_dialog.h"
#include "ui/message_box.h"

using namespace tallowin;

namespace {

std::vector<std::string> Bytes(const QStringList& texts) {
    std::vector<std::string> bytes;
    for (const QString& text : texts) bytes.push_back(text.toStdString());
    return bytes;
}

QString Q(const std::string& bytes) {
    return QString::fromStdString(bytes);
}

struct Shown {
    QString text;
    QString caption;
    unsigned flags;
};

// Answers every message box with OK and keeps what it showed.
class MessageRecorder {
  public:
    MessageRecorder() {
        SetMessageBoxHandler([this](const QString& text, const QString& caption, unsigned flags) {
            shown.push_back({text, caption, flags});
            return IDOK;
        });
    }
    ~MessageRecorder() { SetMessageBoxHandler({}); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    QStringList Texts() const {
        QStringList texts;
        for (const Shown& s : shown) texts.push_back(s.text);
        return texts;
    }

    QList<Shown> shown;
};

// The dialog with its members in view and Browse answered by the test.
class TestDlg : public CHotFolderPropDlg {
  public:
    using CHotFolderPropDlg::CHotFolderPropDlg;

    // The user in the folder chooser; unset: the real chooser.
    std::function<int(CFolderDialog&)> browse;
    int browseRuns = 0;

    QLineEdit* Edit(const char* name) const { return findChild<QLineEdit*>(name); }
    QComboBox* Combo() const { return findChild<QComboBox*>("printerCombo"); }
    QPushButton* Button(const char* name) const { return findChild<QPushButton*>(name); }
    QStringList ComboList() const {
        QStringList items;
        for (int i = 0; i < Combo()->count(); ++i) items.push_back(Combo()->itemText(i));
        return items;
    }
    QStringList Members() const { return {m_printerName, m_name, m_path, m_scanTime}; }
    QStringList Fields() const {
        return {Combo()->currentText(), Edit("nameEdit")->text(), Edit("folderPathEdit")->text(),
                Edit("scanTimeEdit")->text()};
    }

  protected:
    int RunFolderDialog(CFolderDialog& chooser) override {
        ++browseRuns;
        return browse ? browse(chooser) : CHotFolderPropDlg::RunFolderDialog(chooser);
    }
};

// Runs dlg modally with whileOpen acting as the user; a dialog still open
// afterwards is cancelled, so that a failed check cannot hang the run.
int RunModal(CHotFolderPropDlg& dlg, const std::function<void()>& whileOpen) {
    QTimer::singleShot(0, &dlg, [&] {
        whileOpen();
        if (dlg.isVisible()) dlg.reject();
    });
    return dlg.DoModal();
}

// Replaces the text of a field as the user does: select all, delete, type.
// Control characters, which no key types, are pasted instead.
void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    const bool typeable =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
    if (typeable) {
        QTest::keyClicks(edit, text);
    } else {
        edit->insert(text);
    }
}
void Type(QComboBox* combo, const QString& text) {
    Type(combo->lineEdit(), text);
}

void Click(QPushButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

struct Settings {
    QString printer, name, path;
    int scanTime;
};
Settings Of(const HotFolder& folder) {
    return {Q(folder.GetPrinterName()), Q(folder.GetName()), Q(folder.GetFolderPath()),
            folder.GetScanTime()};
}
bool operator==(const Settings& a, const Settings& b) {
    return a.printer == b.printer && a.name == b.name && a.path == b.path &&
           a.scanTime == b.scanTime;
}
char* toString(const Settings& s) {
    return QTest::toString(QString("{printer '%1', name '%2', path '%3', scan %4}")
                               .arg(s.printer, s.name, s.path)
                               .arg(s.scanTime));
}

constexpr std::nullopt_t kKeep = std::nullopt;

const QStringList kPrinters{"zeta", "HP LaserJet", "hp deskjet"};
const QStringList kTaken{"Photos", "Scans", "a %s name"};

}  // namespace

class HotFolderPropDlgTest : public QObject {
    Q_OBJECT

    // A dialog on a hot folder "Invoices" printing to "zeta" every 30 s.
    struct Rig {
        HotFolder folder{"Invoices", "/srv/invoices", "zeta", 30};
        Settings original = Of(folder);
        TestDlg dlg;
        MessageRecorder messages;
        explicit Rig(const QStringList& printers = kPrinters, const QStringList& taken = kTaken) {
            dlg.SetHotFolder(&folder);
            dlg.SetPrinterNames(Bytes(printers));
            dlg.SetTakenNames(Bytes(taken));
        }
        // Types into the four fields; kKeep leaves a field alone.
        void Enter(const std::optional<QString>& printer, const std::optional<QString>& name,
                   const std::optional<QString>& path, const std::optional<QString>& scanTime) {
            if (printer) Type(dlg.Combo(), *printer);
            if (name) Type(dlg.Edit("nameEdit"), *name);
            if (path) Type(dlg.Edit("folderPathEdit"), *path);
            if (scanTime) Type(dlg.Edit("scanTimeEdit"), *scanTime);
        }
    };

  private slots:
    void fieldsShowTheHotFolderWhenItOpens() {
        Rig rig;
        QStringList fields, members;
        bool okHasFocus = false;
        bool okIsDefault = false;
        bool visible = false;
        const int result = RunModal(rig.dlg, [&] {
            visible = rig.dlg.isVisible();
            fields = rig.dlg.Fields();
            members = rig.dlg.Members();
            okHasFocus = rig.dlg.focusWidget() == rig.dlg.Button("okButton");
            okIsDefault = rig.dlg.Button("okButton")->isDefault();
        });
        QCOMPARE(result, IDCANCEL);
        QVERIFY(visible);
        QCOMPARE(fields, (QStringList{"zeta", "Invoices", "/srv/invoices", "30"}));
        QCOMPARE(members, fields);
        QVERIFY(okHasFocus);
        QCOMPARE(rig.dlg.windowTitle(), QString("Hot Folder properties"));
        QVERIFY(rig.dlg.isModal());
        QVERIFY(okIsDefault);
        QCOMPARE(Of(rig.folder), rig.original);
        QVERIFY(rig.messages.shown.isEmpty());
    }

    void printerFieldIsEditableAndNeverExtended() {
        Rig rig;
        int countAfter = -1;
        QString shownAfter;
        RunModal(rig.dlg, [&] {
            QComboBox* combo = rig.dlg.Combo();
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->insertPolicy(), QComboBox::NoInsert);
            QVERIFY(combo->completer() == nullptr);
            Type(combo, "hp");  // no completion to "HP LaserJet" or "hp deskjet"
            QCOMPARE(combo->currentText(), QString("hp"));
            Type(combo, "New Printer");
            QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
            countAfter = combo->count();
            shownAfter = combo->currentText();
        });
        QCOMPARE(countAfter, 3);
        QCOMPARE(shownAfter, QString("New Printer"));
        QCOMPARE(rig.messages.Texts(), QStringList{"Printer name: New Printer is not valid!"});
    }

    void scanTimeShownInDecimal_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("20") << 20 << "20";
        QTest::newRow("0") << 0 << "0";
        QTest::newRow("negative") << -3 << "-3";
        QTest::newRow("largest") << INT_MAX << "2147483647";
        QTest::newRow("smallest") << INT_MIN << "-2147483648";
    }
    void scanTimeShownInDecimal() {
        QFETCH(int, stored);
        QFETCH(QString, shown);
        Rig rig;
        rig.folder.SetScanTime(stored);
        QString field;
        RunModal(rig.dlg, [&] { field = rig.dlg.Edit("scanTimeEdit")->text(); });
        QCOMPARE(field, shown);
    }

    // The caller may change the hot folder between SetHotFolder and
    // DoModal (New sets the printer so): the dialog reads it when it opens.
    void readsTheHotFolderWhenItOpens() {
        Rig rig;
        rig.folder.SetPrinterName("hp deskjet");
        rig.folder.SetName("Changed");
        QStringList fields;
        RunModal(rig.dlg, [&] { fields = rig.dlg.Fields(); });
        QCOMPARE(fields, (QStringList{"hp deskjet", "Changed", "/srv/invoices", "30"}));
    }

    void printerListIsSortedInByteOrder_data() {
        QTest::addColumn<QStringList>("given");
        const QStringList names{"zeta",  "HP LaserJet", "hp deskjet",
                                "Alpha", "alpha",       QString::fromUtf8("\xC3\x84rger"),
                                "Zeta",  "10-Floor",    "2-Floor"};
        QTest::newRow("as enumerated") << names;
        QStringList reversed = names;
        std::reverse(reversed.begin(), reversed.end());
        QTest::newRow("reversed") << reversed;
        QStringList rotated = names.mid(4) + names.mid(0, 4);
        QTest::newRow("rotated") << rotated;
    }
    void printerListIsSortedInByteOrder() {
        QFETCH(QStringList, given);
        Rig rig(given);
        QStringList list;
        RunModal(rig.dlg, [&] { list = rig.dlg.ComboList(); });
        // Upper case before lower case, digits before letters, "10" before
        // "2", and UTF-8 (bytes above 0x7F) last.
        const QStringList expected{"10-Floor",    "2-Floor", "Alpha",
                                   "HP LaserJet", "Zeta",    "alpha",
                                   "hp deskjet",  "zeta",    QString::fromUtf8("\xC3\x84rger")};
        QCOMPARE(list, expected);
    }

    // The printer field selects the first entry of the sorted list that
    // begins with the stored name, ignoring case; else shows it as typed.
    void printerFieldRule_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("printers");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("index");
        // Sorted: "HP LaserJet", "hp deskjet", "zeta".
        QTest::newRow("prefix of two, byte order first") << "hp" << kPrinters << "HP LaserJet" << 0;
        QTest::newRow("longer prefix") << "HP D" << kPrinters << "hp deskjet" << 1;
        QTest::newRow("whole name in other case") << "ZETA" << kPrinters << "zeta" << 2;
        QTest::newRow("exact") << "hp deskjet" << kPrinters << "hp deskjet" << 1;
        QTest::newRow("no printer begins with it") << "canon" << kPrinters << "canon" << -1;
        QTest::newRow("longer than the printer's name")
            << "HP LaserJet Pro" << kPrinters << "HP LaserJet Pro" << -1;
        QTest::newRow("not at the start") << "LaserJet" << kPrinters << "LaserJet" << -1;
        QTest::newRow("no printers") << "hp" << QStringList{} << "hp" << -1;
        QTest::newRow("empty name: every entry begins with it")
            << "" << kPrinters << "HP LaserJet" << 0;
        QTest::newRow("empty name, no printers") << "" << QStringList{} << "" << -1;
        QTest::newRow("non-ASCII, other case")
            << QString::fromUtf8("\xC3\xA9t\xC3\xA9")
            << QStringList{"zeta", QString::fromUtf8("\xC3\x89T\xC3\x89 printer")}
            << QString::fromUtf8("\xC3\x89T\xC3\x89 printer") << 1;
    }
    void printerFieldRule() {
        QFETCH(QString, stored);
        QFETCH(QStringList, printers);
        QFETCH(QString, shown);
        QFETCH(int, index);
        Rig rig(printers);
        rig.folder.SetPrinterName(stored.toStdString());
        QString text;
        int current = -2;
        QString member;
        RunModal(rig.dlg, [&] {
            text = rig.dlg.Combo()->currentText();
            current = rig.dlg.Combo()->currentIndex();
            member = rig.dlg.Members()[0];
        });
        QCOMPARE(text, shown);
        QCOMPARE(current, index);
        // The member keeps the stored name until the next exchange.
        QCOMPARE(member, stored);
        QCOMPARE(Q(rig.folder.GetPrinterName()), stored);
    }

    // OK: printer, then name, then scan time; the first failure is the only
    // message, the dialog stays open with the entries as typed, and the hot
    // folder is untouched. When all pass, the four settings are written.
    void okChecks_data() {
        QTest::addColumn<QString>("printer");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("scanTime");
        QTest::addColumn<QStringList>("printers");
        QTest::addColumn<QString>("message");  // empty: accepted
        QTest::addColumn<int>("written");      // the scan time written when accepted

        const QString scanMessage = "Scan time should be at least 5 seconds!";
        auto row = [&](const char* tag, QString printer, QString name, QString scan,
                       QString message, int written, QStringList printers = kPrinters,
                       QString path = "/srv/new") {
            QTest::newRow(tag) << printer << name << path << scan << printers << message << written;
        };
        row("all valid", "zeta", "Invoices", "20", "", 20);
        row("another printer", "HP LaserJet", "Receipts", "60", "", 60);
        row("scan time 5", "zeta", "Invoices", "5", "", 5);
        row("scan time 4", "zeta", "Invoices", "4", scanMessage, 0);
        row("scan time 0", "zeta", "Invoices", "0", scanMessage, 0);
        row("digits then letters", "zeta", "Invoices", "12abc", "", 12);
        row("leading spaces", "zeta", "Invoices", "  7", "", 7);
        row("leading tab", "zeta", "Invoices", "\t9", "", 9);
        row("plus sign", "zeta", "Invoices", "+8", "", 8);
        row("digits, space, digits", "zeta", "Invoices", "6 0", "", 6);
        row("empty scan time", "zeta", "Invoices", "", scanMessage, 0);
        row("letter", "zeta", "Invoices", "x", scanMessage, 0);
        row("letter then digits", "zeta", "Invoices", "x12", scanMessage, 0);
        row("negative", "zeta", "Invoices", "-5", scanMessage, 0);
        row("sign, space, digits", "zeta", "Invoices", "- 50", scanMessage, 0);
        row("no upper bound", "zeta", "Invoices", "86400", "", 86400);
        row("beyond 32 bits saturates", "zeta", "Invoices", "99999999999", "", INT_MAX);
        row("beyond 32 bits, negative", "zeta", "Invoices", "-99999999999", scanMessage, 0);
        row("the 32-bit limit", "zeta", "Invoices", "2147483647", "", INT_MAX);
        row("one past the limit saturates", "zeta", "Invoices", "2147483648", "", INT_MAX);
        row("2^32 + 5 saturates, never wraps to 5", "zeta", "Invoices", "4294967301", "", INT_MAX);
        row("the negative limit", "zeta", "Invoices", "-2147483648", scanMessage, 0);
        row("printer differs in case", "hp laserjet", "Invoices", "20",
            "Printer name: hp laserjet is not valid!", 0);
        row("printer typed as a prefix", "HP", "Invoices", "20", "Printer name: HP is not valid!",
            0);
        row("printer with a trailing space", "zeta ", "Invoices", "20",
            "Printer name: zeta  is not valid!", 0);
        row("empty printer", "", "Invoices", "20", "Printer name:  is not valid!", 0);
        row("no printers installed", "zeta", "Invoices", "20", "Printer name: zeta is not valid!",
            0, QStringList{});
        row("name taken", "zeta", "Photos", "20", "Hot folder Photos already exists!", 0);
        row("name taken with a %s in it", "zeta", "a %s name", "20",
            "Hot folder a %s name already exists!", 0);
        row("name taken but for case", "zeta", "photos", "20", "", 20);
        row("name taken but for a space", "zeta", "Photos ", "20", "", 20);
        row("empty name and path", "zeta", "", "20", "", 20, kPrinters, "");
        row("path of no folder", "zeta", "Invoices", "20", "", 20, kPrinters, "/no/such/folder");
        row("all three fail: printer reported", "ZETA", "Scans", "1",
            "Printer name: ZETA is not valid!", 0);
        row("name and scan time fail: name reported", "zeta", "Scans", "1",
            "Hot folder Scans already exists!", 0);
    }
    void okChecks() {
        QFETCH(QString, printer);
        QFETCH(QString, name);
        QFETCH(QString, path);
        QFETCH(QString, scanTime);
        QFETCH(QStringList, printers);
        QFETCH(QString, message);
        QFETCH(int, written);
        Rig rig(printers);
        bool openAfterOk = false;
        QStringList fieldsAfterOk, membersAfterOk;
        bool untouchedWhileOpen = false;
        const int result = RunModal(rig.dlg, [&] {
            rig.Enter(printer, name, path, scanTime);
            Click(rig.dlg.Button("okButton"));
            openAfterOk = rig.dlg.isVisible();
            fieldsAfterOk = rig.dlg.Fields();
            membersAfterOk = rig.dlg.Members();
            untouchedWhileOpen = Of(rig.folder) == rig.original;
        });
        const QStringList typed{printer, name, path, scanTime};
        if (message.isEmpty()) {
            QCOMPARE(result, IDOK);
            QVERIFY(!openAfterOk);
            QVERIFY(rig.messages.shown.isEmpty());
            QCOMPARE(Of(rig.folder), (Settings{printer, name, path, written}));
        } else {
            QCOMPARE(result, IDCANCEL);
            QVERIFY(openAfterOk);
            QVERIFY(untouchedWhileOpen);
            QCOMPARE(rig.messages.shown.size(), 1);
            QCOMPARE(rig.messages.shown[0].text, message);
            QCOMPARE(rig.messages.shown[0].caption, QString("Configure"));
            QCOMPARE(rig.messages.shown[0].flags, 0x30u);
            QCOMPARE(fieldsAfterOk, typed);
            QCOMPARE(membersAfterOk, typed);
            QCOMPARE(Of(rig.folder), rig.original);
        }
    }

    void pathOfAFolderAnotherHotFolderWatchesIsRefused_data() {
        QTest::addColumn<QString>("path");  // under a fresh folder; "hot" is Photos's
        QTest::addColumn<bool>("refused");
        QTest::newRow("the same path") << "hot" << true;
        QTest::newRow("a trailing slash") << "hot/" << true;
        QTest::newRow("through a link") << "link" << true;
        QTest::newRow("another folder") << "other" << false;
        QTest::newRow("a folder inside it") << "hot/sub" << false;
        QTest::newRow("no folder yet") << "new" << false;
    }
    void pathOfAFolderAnotherHotFolderWatchesIsRefused() {
        QFETCH(QString, path);
        QFETCH(bool, refused);
        TempDir dir;
        QVERIFY(QDir().mkpath(Q(dir / "hot/sub")) && QDir().mkpath(Q(dir / "other")));
        QVERIFY(QFile::link(Q(dir / "hot"), Q(dir / "link")));
        Rig rig;
        rig.dlg.SetTakenFolders({{"Photos", dir / "hot"}, {"Scans", "/no/such/folder"}});
        const int result = RunModal(rig.dlg, [&] {
            rig.Enter(kKeep, kKeep, Q(dir / path.toStdString()), kKeep);
            Click(rig.dlg.Button("okButton"));
        });
        QCOMPARE(result, refused ? IDCANCEL : IDOK);
        QCOMPARE(rig.messages.Texts(),
                 refused ? QStringList{"Hot folder Photos already watches this folder!"}
                         : QStringList{});
    }

    // Refused, corrected, accepted: the hot folder gets the corrected
    // values and only those.
    void correctedEntriesAreWrittenOnTheNextOk() {
        Rig rig;
        int writtenBetween = -1;
        const int result = RunModal(rig.dlg, [&] {
            rig.Enter("hp laserjet", "Photos", "/srv/first", "3");
            Click(rig.dlg.Button("okButton"));
            rig.Enter("HP LaserJet", kKeep, kKeep, kKeep);
            Click(rig.dlg.Button("okButton"));
            rig.Enter(kKeep, "Receipts", kKeep, kKeep);
            Click(rig.dlg.Button("okButton"));
            writtenBetween = Of(rig.folder) == rig.original ? 0 : 1;
            rig.Enter(kKeep, kKeep, "/srv/receipts", "15");
            Click(rig.dlg.Button("okButton"));
        });
        QCOMPARE(result, IDOK);
        QCOMPARE(writtenBetween, 0);
        QCOMPARE(rig.messages.Texts(), (QStringList{"Printer name: hp laserjet is not valid!",
                                                    "Hot folder Photos already exists!",
                                                    "Scan time should be at least 5 seconds!"}));
        QCOMPARE(Of(rig.folder), (Settings{"HP LaserJet", "Receipts", "/srv/receipts", 15}));
    }

    void noPrintersRefusesEveryOk() {
        Rig rig(QStringList{});
        bool open = false;
        const int result = RunModal(rig.dlg, [&] {
            for (const char* printer : {"zeta", "", "HP LaserJet", "Invoices"}) {
                rig.Enter(printer, kKeep, kKeep, kKeep);
                Click(rig.dlg.Button("okButton"));
            }
            open = rig.dlg.isVisible();
        });
        QCOMPARE(result, IDCANCEL);
        QVERIFY(open);
        QCOMPARE(rig.messages.Texts(),
                 (QStringList{"Printer name: zeta is not valid!", "Printer name:  is not valid!",
                              "Printer name: HP LaserJet is not valid!",
                              "Printer name: Invoices is not valid!"}));
        QCOMPARE(Of(rig.folder), rig.original);
    }

    // Enter in any field presses OK: accepted with valid entries, the
    // message with an invalid scan time.
    void enterInAFieldPressesOk_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("valid");
        for (const char* field : {"nameEdit", "folderPathEdit", "scanTimeEdit", "printerCombo"}) {
            for (const auto& [keyName, key] :
                 {std::pair{"Return", Qt::Key_Return}, std::pair{"keypad Enter", Qt::Key_Enter}}) {
                QTest::addRow("%s, %s, valid", field, keyName) << field << int(key) << true;
                QTest::addRow("%s, %s, invalid", field, keyName) << field << int(key) << false;
            }
        }
    }
    void enterInAFieldPressesOk() {
        QFETCH(QString, field);
        QFETCH(int, key);
        QFETCH(bool, valid);
        Rig rig;
        const int result = RunModal(rig.dlg, [&] {
            rig.Enter(kKeep, "Receipts", kKeep, valid ? "45" : "2");
            QWidget* target = field == "printerCombo"
                                  ? static_cast<QWidget*>(rig.dlg.Combo()->lineEdit())
                                  : rig.dlg.Edit(qPrintable(field));
            target->setFocus();
            const auto modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
            QTest::keyClick(target, Qt::Key(key), modifiers);
        });
        if (valid) {
            QCOMPARE(result, IDOK);
            QVERIFY(rig.messages.shown.isEmpty());
            QCOMPARE(Of(rig.folder), (Settings{"zeta", "Receipts", "/srv/invoices", 45}));
        } else {
            QCOMPARE(result, IDCANCEL);
            QCOMPARE(rig.messages.Texts(), QStringList{"Scan time should be at least 5 seconds!"});
            QCOMPARE(Of(rig.folder), rig.original);
        }
    }

    // Cancel, Escape or the close box after a refused OK: IDCANCEL, and the
    // hot folder keeps every setting it had.
    void cancelAfterARefusedOkLeavesTheHotFolder_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel button") << "button";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("close box") << "close";
    }
    void cancelAfterARefusedOkLeavesTheHotFolder() {
        QFETCH(QString, how);
        Rig rig;
        bool closed = false;
        const int result = RunModal(rig.dlg, [&] {
            rig.Enter("HP LaserJet", "Receipts", "/srv/receipts", "4");
            Click(rig.dlg.Button("okButton"));
            if (how == "button") {
                Click(rig.dlg.Button("cancelButton"));
            } else if (how == "escape") {
                QTest::keyClick(rig.dlg.Edit("nameEdit"), Qt::Key_Escape);
            } else {
                rig.dlg.close();
            }
            closed = !rig.dlg.isVisible();
        });
        QCOMPARE(result, IDCANCEL);
        QVERIFY(closed);
        QCOMPARE(rig.messages.Texts(), QStringList{"Scan time should be at least 5 seconds!"});
        QCOMPARE(Of(rig.folder), rig.original);
    }

    void withoutAHotFolderNothingOpens() {
        TestDlg dlg;
        dlg.SetPrinterNames(Bytes(kPrinters));
        QCOMPARE(dlg.DoModal(), IDCANCEL);
        QVERIFY(!dlg.isVisible());
    }

    // Browse opens the chooser with no title on the member path (not the
    // field as typed), over the dialog, with 0x0150; anything but IDOK
    // changes nothing.
    void browseNotOkChangesNothing_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("cancelled") << -1;
        QTest::newRow("item without a file-system path") << IDCANCEL;
    }
    void browseNotOkChangesNothing() {
        QFETCH(int, answer);
        Rig rig;
        QString title = "unset", initial;
        QWidget* parent = nullptr;
        unsigned flags = 0;
        rig.dlg.browse = [&](CFolderDialog& chooser) {
            title = chooser.Title();
            initial = chooser.InitialPath();
            parent = chooser.Parent();
            flags = chooser.Flags();
            chooser.m_selectedPath = "/must/not/be/used";
            return answer;
        };
        QStringList before, after, membersAfter;
        RunModal(rig.dlg, [&] {
            rig.Enter("hp", "Typed", "/typed/path", "9");
            before = rig.dlg.Fields();
            Click(rig.dlg.Button("browseButton"));
            after = rig.dlg.Fields();
            membersAfter = rig.dlg.Members();
        });
        QCOMPARE(rig.dlg.browseRuns, 1);
        QCOMPARE(title, QString());
        QCOMPARE(initial, QString("/srv/invoices"));
        QCOMPARE(parent, &rig.dlg);
        QCOMPARE(flags, 0x0150u);
        QCOMPARE(after, before);
        // No exchange happened: the members still hold what the dialog opened with.
        QCOMPARE(membersAfter, (QStringList{"zeta", "Invoices", "/srv/invoices", "30"}));
        QCOMPARE(Of(rig.folder), rig.original);
    }

    // Browse OK: the chosen path replaces the path; the other fields keep
    // what was typed, the printer field after its rule (a typed prefix of
    // an installed printer becomes that printer).
    void browseOkReplacesThePathAndKeepsTheRest_data() {
        QTest::addColumn<QString>("typedPrinter");
        QTest::addColumn<QString>("shownPrinter");
        QTest::newRow("installed printer") << "hp deskjet"
                                           << "hp deskjet";
        QTest::newRow("prefix of installed printers") << "hp"
                                                      << "HP LaserJet";
        QTest::newRow("no such printer") << "canon"
                                         << "canon";
    }
    void browseOkReplacesThePathAndKeepsTheRest() {
        QFETCH(QString, typedPrinter);
        QFETCH(QString, shownPrinter);
        Rig rig;
        QStringList initials;
        rig.dlg.browse = [&](CFolderDialog& chooser) {
            initials.push_back(chooser.InitialPath());
            chooser.m_selectedPath = initials.size() == 1 ? "/chosen/first" : "/chosen/second";
            return IDOK;
        };
        QStringList afterFirst, afterSecond;
        bool untouched = false;
        RunModal(rig.dlg, [&] {
            rig.Enter(typedPrinter, "Typed name", "/typed/path", "9");
            Click(rig.dlg.Button("browseButton"));
            afterFirst = rig.dlg.Fields();
            untouched = Of(rig.folder) == rig.original;
            Click(rig.dlg.Button("browseButton"));
            afterSecond = rig.dlg.Fields();
        });
        QVERIFY(untouched);
        QCOMPARE(afterFirst, (QStringList{shownPrinter, "Typed name", "/chosen/first", "9"}));
        QCOMPARE(afterSecond, (QStringList{shownPrinter, "Typed name", "/chosen/second", "9"}));
        // The second chooser opens on the path the first one chose.
        QCOMPARE(initials, (QStringList{"/srv/invoices", "/chosen/first"}));
        QCOMPARE(Of(rig.folder), rig.original);  // Browse writes nothing
    }

    void browsedPathIsWrittenOnOk() {
        Rig rig;
        rig.dlg.browse = [&](CFolderDialog& chooser) {
            chooser.m_selectedPath = "/chosen";
            return IDOK;
        };
        const int result = RunModal(rig.dlg, [&] {
            rig.Enter(kKeep, "Typed name", kKeep, "12");
            Click(rig.dlg.Button("browseButton"));
            Click(rig.dlg.Button("okButton"));
        });
        QCOMPARE(result, IDOK);
        QCOMPARE(Of(rig.folder), (Settings{"zeta", "Typed name", "/chosen", 12}));
    }

    // Browse with the real chooser: Qt's picker opens over the dialog with
    // the hot folder's folder selected, and the folder typed into it comes
    // back into the Path field.
    void browseWithTheRealPicker() {
        TempDir dir;
        const QString current = Q(dir / "current");
        const QString chosen = Q(dir / "chosen");
        QVERIFY(QDir().mkpath(current));
        QVERIFY(QDir().mkpath(chosen));
        Rig rig;
        rig.folder.SetFolderPath(current.toStdString());
        QStringList selection;
        QWidget* pickerParent = nullptr;
        QString pathField;
        // Should the picker (or a message box of its own) stay open after
        // all, this ends it, so that the run cannot wait for a person.
        QTimer safety;
        QObject::connect(&safety, &QTimer::timeout, [&rig] {
            auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (open != nullptr && open != &rig.dlg) open->reject();
        });
        safety.start(30000);
        RunModal(rig.dlg, [&] {
            QTimer::singleShot(0, [&] {
                auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                if (picker == nullptr) return;
                selection = picker->selectedFiles();
                pickerParent = picker->parentWidget();
                // Typed with the name field in focus, as a user types: only
                // then does the typed name replace the initial selection.
                picker->activateWindow();
                if (!QTest::qWaitForWindowActive(picker)) return;
                auto* name = picker->findChild<QLineEdit*>("fileNameEdit");
                name->setFocus();
                name->setText(chosen);
                QTest::keyClick(name, Qt::Key_Return);
            });
            Click(rig.dlg.Button("browseButton"));
            pathField = rig.dlg.Edit("folderPathEdit")->text();
        });
        QCOMPARE(rig.dlg.browseRuns, 1);
        QCOMPARE(selection, QStringList{current});
        QCOMPARE(pickerParent, &rig.dlg);
        QCOMPARE(pathField, chosen);
    }
};

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's picker keeps its state in the user's settings; keep it out of
    // the real ones.
    TempDir config;
    qputenv("XDG_CONFIG_HOME", config.Path().c_str());
    QApplication app(argc, argv);
    HotFolderPropDlgTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "hot_folder_prop_dlg_test.moc"
