// The printer panel and the printing defaults dialog on the offscreen
// platform, over a fake printer catalogue: made-up names and choices, and a
// record of what the panel stores.
#include "ui/printer_panel.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QIcon>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/ui/fake_printer_catalogue.h"
#include "ui/printer_defaults_dialog.h"

using namespace tallowin;

namespace {

using Names = std::vector<std::string>;

QIcon PrinterIcon() {
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::darkCyan);
    return QIcon(pixmap);
}

QStringList Texts(const QListWidget& view) {
    QStringList texts;
    for (int row = 0; row < view.count(); ++row) texts << view.item(row)->text();
    return texts;
}

QList<int> Indexes(const QListWidget& view) {
    QList<int> indexes;
    for (int row = 0; row < view.count(); ++row) {
        indexes << view.item(row)->data(Qt::UserRole).toInt();
    }
    return indexes;
}

// The row showing text, -1 when there is none.
int RowOf(const QListWidget& view, const QString& text) {
    for (int row = 0; row < view.count(); ++row) {
        if (view.item(row)->text() == text) return row;
    }
    return -1;
}

// A catalogue of two printers; "tallowin-600" offers a size and the
// orientation, "tallowin-300" cannot be read.
FakePrinterCatalogue TwoPrinters() {
    FakePrinterCatalogue printers;
    printers.names = {"tallowin-600", "tallowin-300"};
    printers.choices["tallowin-600"] = {
        {"media",
         "Paper size",
         {{"na_letter_8.5x11in", "Letter"}, {"custom_8.5x11.5in_8.5x11.5in", "8.5 x 11.5\""}},
         "custom_8.5x11.5in_8.5x11.5in"},
        {"orientation-requested", "Orientation", {{"3", "Portrait"}, {"4", "Landscape"}}, "3"},
    };
    return printers;
}

using Stored = std::vector<std::pair<std::string, PrinterOptions>>;

// What a dialog runner saw and did.
struct RunRecord {
    int Runs = 0;
    QString Title;
    QString MediaBefore;  // the media combo's value when the dialog opened
};

// A runner that selects value in the combo box of option and ends the
// dialog with result, as a person would.
PrinterPanel::DialogRunner Choose(RunRecord& record, const QString& option, const QString& value,
                                  int result) {
    return [&record, option, value, result](PrinterDefaultsDialog& dialog) {
        ++record.Runs;
        record.Title = dialog.windowTitle();
        if (auto* combo = dialog.findChild<QComboBox*>(option)) {
            if (option == "media") record.MediaBefore = combo->currentData().toString();
            combo->setCurrentIndex(combo->findData(value));
        }
        return result;
    };
}

}  // namespace

class PrinterPanelTest : public QObject {
    Q_OBJECT

  private slots:
    void fillOrdersByBytesAndKeepsTheEnumerationOrder_data() {
        QTest::addColumn<QStringList>("names");  // in enumeration order
        QTest::addColumn<QStringList>("panel");
        QTest::addColumn<QList<int>>("indexes");
        QTest::newRow("mixed case") << QStringList{"zeta", "Alpha", "beta"}
                                    << QStringList{"Alpha", "beta", "zeta"} << QList<int>{1, 2, 0};
        // Byte order, not the locale's: capitals and '_' before small
        // letters, UTF-8 letters after ASCII.
        QTest::newRow("bytes") << QStringList{"b", "B", "a", "_x", "\u00e4"}
                               << QStringList{"B", "_x", "a", "b", "\u00e4"}
                               << QList<int>{1, 3, 2, 0, 4};
        QTest::newRow("equal names keep their order")
            << QStringList{"same", "a", "same"} << QStringList{"a", "same", "same"}
            << QList<int>{1, 0, 2};
        QTest::newRow("instances after their queue")
            << QStringList{"tallowin-600/tall", "tallowin-600", "tallowin-300"}
            << QStringList{"tallowin-300", "tallowin-600", "tallowin-600/tall"}
            << QList<int>{2, 1, 0};
        QTest::newRow("no printers") << QStringList{} << QStringList{} << QList<int>{};
    }

    void fillOrdersByBytesAndKeepsTheEnumerationOrder() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, panel);
        QFETCH(QList<int>, indexes);
        Names bytes;
        for (const QString& name : names) bytes.push_back(name.toStdString());

        QListWidget view;
        view.setSortingEnabled(true);  // the panel must not rely on it
        FakePrinterCatalogue catalogue;
        PrinterPanel printers(&view, catalogue);
        printers.Fill(bytes, PrinterIcon());

        QCOMPARE(Texts(view), panel);
        QCOMPARE(Indexes(view), indexes);
        QVERIFY(printers.PrinterNames() == bytes);
        QVERIFY(!view.isSortingEnabled());
        for (int row = 0; row < view.count(); ++row) QVERIFY(!view.item(row)->icon().isNull());
    }

    // Each printer says how it stands: as the catalogue found it at Fill,
    // and as the running hot folders find the printers they use.
    void eachPrinterSaysHowItStands() {
        QListWidget view;
        FakePrinterCatalogue catalogue;
        catalogue.conditions["tallowin-300"] = {
            PrinterCondition::State::Stopped, {"paused"}, "", true};
        PrinterPanel printers(&view, catalogue);
        printers.Fill({"tallowin-600", "tallowin-300"}, PrinterIcon());
        const auto tip = [&](const char* name) { return view.item(RowOf(view, name))->toolTip(); };
        QCOMPARE(tip("tallowin-600"), QString("Ready"));
        QCOMPARE(tip("tallowin-300"), QString("Needs attention: stopped (paused)"));
        const QImage plain = view.item(RowOf(view, "tallowin-600"))->icon().pixmap(48).toImage();
        const QImage badged = view.item(RowOf(view, "tallowin-300"))->icon().pixmap(48).toImage();
        QVERIFY(plain != badged);

        // A folder on tallowin-600 finds it out of paper; tallowin-300 is
        // used by none, so what Fill found stands.
        printers.ShowTrouble({{"tallowin-600", "Out of paper (media-empty)"}}, {"tallowin-600"});
        QCOMPARE(tip("tallowin-600"), QString("Needs attention: Out of paper (media-empty)"));
        QCOMPARE(tip("tallowin-300"), QString("Needs attention: stopped (paused)"));
        // Printing again, and a folder now watches tallowin-300 too.
        printers.ShowTrouble({}, {"tallowin-600", "tallowin-300"});
        QCOMPARE(tip("tallowin-600"), QString("Ready"));
        QCOMPARE(tip("tallowin-300"), QString("Ready"));
        QCOMPARE(view.item(RowOf(view, "tallowin-600"))->icon().pixmap(48).toImage(), plain);
    }

    void fillReplacesWhatWasThere() {
        QListWidget view;
        FakePrinterCatalogue catalogue;
        PrinterPanel printers(&view, catalogue);
        printers.Fill({"one", "two", "three"}, PrinterIcon());
        printers.Fill({"zeta", "Alpha"}, PrinterIcon());
        QCOMPARE(Texts(view), (QStringList{"Alpha", "zeta"}));
        QCOMPARE(Indexes(view), (QList<int>{1, 0}));
        QVERIFY(printers.PrinterNames() == (Names{"zeta", "Alpha"}));
    }

    void firstSelectedIsFirstInThePanel_data() {
        QTest::addColumn<QStringList>("selected");  // in the order they are selected
        QTest::addColumn<QString>("expected");      // empty: none
        QTest::newRow("none") << QStringList{} << QString();
        QTest::newRow("one") << QStringList{"beta"} << QString("beta");
        QTest::newRow("two, last clicked first")
            << QStringList{"zeta", "Alpha"} << QString("Alpha");
        QTest::newRow("two, first clicked first") << QStringList{"beta", "zeta"} << QString("beta");
        QTest::newRow("all") << QStringList{"zeta", "beta", "Alpha"} << QString("Alpha");
    }

    void firstSelectedIsFirstInThePanel() {
        QFETCH(QStringList, selected);
        QFETCH(QString, expected);
        QListWidget view;
        view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        FakePrinterCatalogue catalogue;
        PrinterPanel printers(&view, catalogue);
        printers.Fill({"zeta", "Alpha", "beta"}, PrinterIcon());
        for (const QString& name : selected) {
            QListWidgetItem* item = view.item(RowOf(view, name));
            item->setSelected(true);
            view.setCurrentItem(item, QItemSelectionModel::NoUpdate);  // the one clicked last
        }
        const std::optional<std::string> first = printers.FirstSelectedPrinter();
        if (expected.isEmpty()) {
            QVERIFY(!first.has_value());
        } else {
            QVERIFY(first.has_value());
            QCOMPARE(QString::fromStdString(*first), expected);
        }
    }

    void withNothingSelectedNoDialogOpens() {
        QListWidget view;
        FakePrinterCatalogue catalogue = TwoPrinters();
        RunRecord record;
        PrinterPanel printers(&view, catalogue,
                              Choose(record, "media", "na_letter_8.5x11in", QDialog::Accepted));
        printers.Fill(catalogue.names, PrinterIcon());
        view.setCurrentItem(view.item(0), QItemSelectionModel::NoUpdate);  // current, not selected
        printers.OpenDefaultsDialog(nullptr);
        QCOMPARE(record.Runs, 0);
        QVERIFY(catalogue.choiceReads.empty());
        QVERIFY(catalogue.stored.empty());
    }

    void dialogShowsEachChoicePreselected() {
        std::vector<PrinterChoice> choices{
            {"media",
             "Paper size",
             {{"a4", "A4"}, {"letter", "Letter"}, {"legal", "Legal"}},
             "letter"},
            {"sides", "Two-sided printing", {{"one-sided", "One-sided"}}, "one-sided"},
        };
        PrinterDefaultsDialog dialog("caf\xc3\xa9", choices);
        QCOMPARE(dialog.windowTitle(), QString("Printing defaults - caf\u00e9"));

        auto* media = dialog.findChild<QComboBox*>("media");
        QVERIFY(media != nullptr);
        QCOMPARE(media->count(), 3);
        QCOMPARE(media->itemText(2), QString("Legal"));
        QCOMPARE(media->currentData().toString(), QString("letter"));
        QCOMPARE(media->currentText(), QString("Letter"));
        auto* sides = dialog.findChild<QComboBox*>("sides");
        QVERIFY(sides != nullptr);
        QCOMPARE(sides->currentData().toString(), QString("one-sided"));

        // Only what the user changed is chosen.
        QVERIFY(dialog.Chosen().empty());
        media->setCurrentIndex(media->findData("a4"));
        const auto chosen = dialog.Chosen();
        QCOMPARE(chosen.size(), std::size_t{1});
        QCOMPARE(chosen[0].first, std::string("media"));
        QCOMPARE(chosen[0].second, std::string("a4"));
        media->setCurrentIndex(media->findData("letter"));
        QVERIFY(dialog.Chosen().empty());
    }

    void dialogEndsWithOkOrCancel_data() {
        QTest::addColumn<QDialogButtonBox::StandardButton>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("OK") << QDialogButtonBox::Ok << int(QDialog::Accepted);
        QTest::newRow("Cancel") << QDialogButtonBox::Cancel << int(QDialog::Rejected);
    }

    void dialogEndsWithOkOrCancel() {
        QFETCH(QDialogButtonBox::StandardButton, button);
        QFETCH(int, result);
        PrinterDefaultsDialog dialog("p",
                                     {{"sides", "Sides", {{"one-sided", "One"}}, "one-sided"}});
        dialog.show();
        auto* box = dialog.findChild<QDialogButtonBox*>();
        QVERIFY(box != nullptr);
        QTest::mouseClick(box->button(button), Qt::LeftButton);
        QCOMPARE(dialog.result(), result);
        QVERIFY(!dialog.isVisible());
    }

    void dialogWithoutChoicesOffersNothing() {
        PrinterDefaultsDialog dialog("p", {});
        QVERIFY(dialog.findChildren<QComboBox*>().isEmpty());
        QVERIFY(dialog.Chosen().empty());
    }

    // Only OK with a changed setting stores, and only what changed, for the
    // printer whose dialog it was.
    void okStoresOnlyAChangedChoice_data() {
        QTest::addColumn<QString>("printer");
        QTest::addColumn<QString>("value");  // selected in the media combo box
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("stores");
        QTest::newRow("OK with a change") << "tallowin-600"
                                          << "na_letter_8.5x11in" << int(QDialog::Accepted) << true;
        QTest::newRow("Cancel") << "tallowin-600"
                                << "na_letter_8.5x11in" << int(QDialog::Rejected) << false;
        QTest::newRow("OK without a change")
            << "tallowin-600"
            << "custom_8.5x11.5in_8.5x11.5in" << int(QDialog::Accepted) << false;
        QTest::newRow("a printer that cannot be read")
            << "tallowin-300"
            << "na_letter_8.5x11in" << int(QDialog::Accepted) << false;
    }

    void okStoresOnlyAChangedChoice() {
        QFETCH(QString, printer);
        QFETCH(QString, value);
        QFETCH(int, result);
        QFETCH(bool, stores);
        QListWidget view;
        FakePrinterCatalogue catalogue = TwoPrinters();
        RunRecord record;
        PrinterPanel printers(&view, catalogue, Choose(record, "media", value, result));
        printers.Fill(catalogue.names, PrinterIcon());
        const int row = RowOf(view, printer);
        QVERIFY(row >= 0);
        view.item(row)->setSelected(true);

        printers.OpenDefaultsDialog(nullptr);

        QCOMPARE(record.Runs, 1);
        QCOMPARE(record.Title, "Printing defaults - " + printer);
        QVERIFY(catalogue.choiceReads == Names{printer.toStdString()});
        if (stores) {
            QCOMPARE(record.MediaBefore, QString("custom_8.5x11.5in_8.5x11.5in"));
            QVERIFY(catalogue.stored ==
                    (Stored{{printer.toStdString(), {{"media", value.toStdString()}}}}));
        } else {
            QVERIFY(catalogue.stored.empty());
        }
    }

    // A store that fails is not told: the panel shows no message at all.
    void aFailedStoreShowsNothing() {
        QListWidget view;
        FakePrinterCatalogue catalogue = TwoPrinters();
        catalogue.storeSucceeds = false;
        RunRecord record;
        PrinterPanel printers(&view, catalogue,
                              Choose(record, "media", "na_letter_8.5x11in", QDialog::Accepted));
        printers.Fill(catalogue.names, PrinterIcon());
        view.item(RowOf(view, "tallowin-600"))->setSelected(true);
        printers.OpenDefaultsDialog(nullptr);
        QCOMPARE(catalogue.stored.size(), std::size_t{1});
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    // Without a runner the dialog runs modally with exec(); a person's
    // choice and OK are played from inside its event loop.
    void theDialogRunsModallyOverItsParent() {
        QWidget window;
        QListWidget view(&window);
        FakePrinterCatalogue catalogue = TwoPrinters();
        PrinterPanel printers(&view, catalogue);
        printers.Fill(catalogue.names, PrinterIcon());
        view.item(RowOf(view, "tallowin-600"))->setSelected(true);
        window.show();

        bool defaultsDialog = false;
        QWidget* parentOfDialog = nullptr;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* dialog = qobject_cast<PrinterDefaultsDialog*>(modal);
            if (dialog == nullptr) {
                if (modal != nullptr) modal->close();  // not ours: end it, the test fails below
                return;
            }
            defaultsDialog = true;
            parentOfDialog = dialog->parentWidget();
            auto* media = dialog->findChild<QComboBox*>("media");
            if (media != nullptr) media->setCurrentIndex(media->findData("na_letter_8.5x11in"));
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                              Qt::LeftButton);
        });
        printers.OpenDefaultsDialog(&window);

        QVERIFY(defaultsDialog);
        QCOMPARE(parentOfDialog, &window);
        QVERIFY(catalogue.stored == (Stored{{"tallowin-600", {{"media", "na_letter_8.5x11in"}}}}));
    }
};

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PrinterPanelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "printer_panel_test.moc"
