// The print settings dialog on the offscreen platform, built from a fake
// printer catalogue: what it offers, that it keeps what it was given, the
// checks of OK, and the way it is reached from the hot folder properties.
#include "ui/print_settings_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "engine/hot_folder.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/fake_printer_catalogue.h"
#include "ui/folder_dialog.h"
#include "ui/hot_folder_prop_dlg.h"
#include "ui/message_box.h"

using namespace tallowin;

namespace {

std::vector<PrinterChoice> TraysChoices() {
    return {{"media",
             "Paper size",
             {{"iso_a4_210x297mm", "A4"}, {"na_letter_8.5x11in", "Letter"}},
             "iso_a4_210x297mm"},
            {"media-source", "Paper source", {{"top", "Upper"}, {"bottom", "Lower"}}, "top"},
            {"sides", "Two-sided printing", {{"one-sided", "One-sided"}}, "one-sided"}};
}

QStringList DataOf(const QComboBox* combo) {
    QStringList data;
    for (int i = 0; i < combo->count(); ++i) data << combo->itemData(i).toString();
    return data;
}

// Answers every message box with OK and keeps the texts.
struct Messages {
    Messages() {
        SetMessageBoxHandler([this](const QString& text, const QString&, unsigned) {
            texts << text;
            return IDOK;
        });
    }
    ~Messages() { SetMessageBoxHandler({}); }
    QStringList texts;
};

// The properties dialog with the print settings dialog answered by the test.
class PropDlg : public CHotFolderPropDlg {
  public:
    std::function<int(PrintSettingsDialog&)> answer;

  protected:
    int RunPrintSettingsDialog(PrintSettingsDialog& dialog) override { return answer(dialog); }
};

// The print settings dialog with its folder picker answered by the test:
// each run is noted with where it opened, and answered with choice (empty:
// cancelled).
class AnsweredDialog : public PrintSettingsDialog {
  public:
    using PrintSettingsDialog::PrintSettingsDialog;
    QStringList openedAt;
    QString choice;

  protected:
    int RunFolderDialog(CFolderDialog& chooser) override {
        openedAt << chooser.InitialPath();
        if (choice.isEmpty()) return -1;
        chooser.m_selectedPath = choice;
        return IDOK;
    }
};

}  // namespace

class PrintSettingsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void offersWhatThePrinterOffersAndKeepsWhatItWasGiven() {
        JobSettingsText text;
        text.Media = "na_letter_8.5x11in";
        text.Tray = "manual";  // not offered: kept as written
        text.Scaling = "fill";
        text.Exclude = kNewFolderExclude;
        text.Copies = "2";
        PrintSettingsDialog dialog("trays", TraysChoices(), text, "/hot");
        const auto* media = dialog.findChild<QComboBox*>("Media");
        QVERIFY(media != nullptr);
        QCOMPARE(DataOf(media), (QStringList{"", "iso_a4_210x297mm", "na_letter_8.5x11in"}));
        QCOMPARE(media->currentData().toString(), QString("na_letter_8.5x11in"));
        QCOMPARE(DataOf(dialog.findChild<QComboBox*>("Tray")),
                 (QStringList{"", "top", "bottom", "manual"}));
        QCOMPARE(DataOf(dialog.findChild<QComboBox*>("ColorMode")), QStringList{""});
        QCOMPARE(dialog.Settings(), text);
        QCOMPARE(PrintSettingsDialog("trays", {}, {}, "/hot").Settings(), JobSettingsText{});
    }

    void okRefusesWrongValuesAndMissingFolders_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");  // empty: accepted
        QTest::addRow("copies") << "Copies"
                                << "0"
                                << "Copies=0";
        QTest::addRow("printed_missing") << "PrintedFolder"
                                         << "missing"
                                         << "printed folder";
        QTest::addRow("printed_there") << "PrintedFolder"
                                       << "done"
                                       << "";
        QTest::addRow("kept_missing") << "KeptFolder"
                                      << "/no/such/folder"
                                      << "cannot print";
    }
    void okRefusesWrongValuesAndMissingFolders() {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, message);
        TempDir hot;
        QVERIFY(QDir().mkdir(QString::fromStdString(hot / "done")));
        JobSettingsText text;
        text.AfterPrint = "move";
        text.PrintedFolder = "done";
        PrintSettingsDialog dialog("trays", TraysChoices(), text, hot.Path());
        dialog.findChild<QLineEdit*>(key)->setText(value);
        Messages messages;
        dialog.show();
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        if (message.isEmpty()) {
            QVERIFY(messages.texts.isEmpty());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        } else {
            QCOMPARE(messages.texts.size(), 1);
            QVERIFY2(messages.texts[0].contains(message), qPrintable(messages.texts[0]));
            QVERIFY(dialog.isVisible());
        }
    }

    void browseOpensWhereTheFieldPointsAndTakesTheChoice() {
        JobSettingsText text;
        text.PrintedFolder = "done";  // under the hot folder
        AnsweredDialog dialog("trays", TraysChoices(), text, "/hot");
        auto* printed = dialog.findChild<QLineEdit*>("PrintedFolder");
        auto* kept = dialog.findChild<QLineEdit*>("KeptFolder");
        dialog.findChild<QPushButton*>("PrintedFolderBrowse")->click();  // cancelled
        QCOMPARE(printed->text(), QString("done"));
        dialog.choice = "/archive/kept";
        dialog.findChild<QPushButton*>("KeptFolderBrowse")->click();
        QCOMPARE(kept->text(), QString("/archive/kept"));
        dialog.findChild<QPushButton*>("KeptFolderBrowse")->click();
        QCOMPARE(dialog.openedAt, (QStringList{"/hot/done", "/hot", "/archive/kept"}));
        QCOMPARE(dialog.Settings().KeptFolder, std::string("/archive/kept"));
        QCOMPARE(dialog.Settings().PrintedFolder, std::string("done"));
    }

    void thePropertiesDialogSavesThemWithOk() {
        TempDir hot;
        FakePrinterCatalogue catalogue;
        catalogue.choices["trays"] = TraysChoices();
        HotFolder folder("f", hot.Path(), "trays", 20);
        folder.PrintSettings.Exclude = kNewFolderExclude;
        PropDlg dlg;
        dlg.SetHotFolder(&folder);
        dlg.SetPrinterNames({"trays"});
        dlg.SetPrinterCatalogue(&catalogue);
        dlg.answer = [](PrintSettingsDialog& d) {
            d.findChild<QComboBox*>("Tray")->setCurrentIndex(2);  // bottom
            d.findChild<QLineEdit*>("Copies")->setText("3");
            return int(QDialog::Accepted);
        };
        QTimer::singleShot(0, &dlg, [&] {
            dlg.findChild<QPushButton*>("printSettingsButton")->click();
            dlg.findChild<QPushButton*>("okButton")->click();
        });
        QCOMPARE(dlg.DoModal(), IDOK);
        QCOMPARE(catalogue.choiceReads, std::vector<std::string>{"trays"});
        QCOMPARE(folder.PrintSettings.Tray, std::string("bottom"));
        QCOMPARE(folder.PrintSettings.Copies, std::string("3"));
        QCOMPARE(folder.PrintSettings.Exclude, std::string(kNewFolderExclude));
    }
};

QTEST_MAIN(PrintSettingsDialogTest)
#include "print_settings_dialog_test.moc"
