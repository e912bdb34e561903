// The printer panel and the printing defaults dialog on the offscreen
// platform. The panel's order and selection use made-up names; the dialog's
// OK and Cancel run against the private CUPS scheduler's queues.
#include "ui/printer_panel.h"

#include <cups/cups.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
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

#include "platform/cups_printers.h"
#include "tests/support/sandbox.h"
#include "ui/printer_defaults_dialog.h"

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

// The "media" option of the destination as libcups gives it to a job (the
// user's lpoptions included); empty when it has none.
std::string MediaOf(const char* queue) {
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                30000, nullptr);
    if (http == nullptr) return "<no scheduler>";
    std::string media;
    if (cups_dest_t* dest = cupsGetNamedDest(http, queue, nullptr)) {
        if (const char* value = cupsGetOption("media", dest->num_options, dest->options)) {
            media = value;
        }
        cupsFreeDests(1, dest);
    } else {
        media = "<no destination>";
    }
    httpClose(http);
    return media;
}

QString LpoptionsPath() {
    return QString::fromStdString(sandbox::Home().Lpoptions());
}

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
    void init() { QFile::remove(LpoptionsPath()); }
    void cleanup() { QFile::remove(LpoptionsPath()); }

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
        PrinterPanel printers(&view);
        printers.Fill(bytes, PrinterIcon());

        QCOMPARE(Texts(view), panel);
        QCOMPARE(Indexes(view), indexes);
        QVERIFY(printers.PrinterNames() == bytes);
        QVERIFY(!view.isSortingEnabled());
        for (int row = 0; row < view.count(); ++row) QVERIFY(!view.item(row)->icon().isNull());
    }

    void fillReplacesWhatWasThere() {
        QListWidget view;
        PrinterPanel printers(&view);
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
        PrinterPanel printers(&view);
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
        RunRecord record;
        PrinterPanel printers(&view,
                              Choose(record, "media", "na_letter_8.5x11in", QDialog::Accepted));
        printers.Fill({"tallowin-600", "tallowin-300"}, PrinterIcon());
        view.setCurrentItem(view.item(0), QItemSelectionModel::NoUpdate);  // current, not selected
        printers.OpenDefaultsDialog(nullptr);
        QCOMPARE(record.Runs, 0);
        QVERIFY(!QFile::exists(LpoptionsPath()));
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

    void okStoresTheChoiceAsTheUsersDefault() {
        QVERIFY2(qEnvironmentVariableIsSet("CUPS_SERVER"), "CUPS_SERVER is not set");
        QListWidget view;
        RunRecord record;
        PrinterPanel printers(&view,
                              Choose(record, "media", "na_letter_8.5x11in", QDialog::Accepted));
        printers.Fill(EnumeratePrinters(), PrinterIcon());
        const int row = RowOf(view, "tallowin-600");
        QVERIFY(row >= 0);
        view.item(row)->setSelected(true);
        QCOMPARE(MediaOf("tallowin-600"), std::string());

        printers.OpenDefaultsDialog(nullptr);

        QCOMPARE(record.Runs, 1);
        QCOMPARE(record.Title, QString("Printing defaults - tallowin-600"));
        QCOMPARE(record.MediaBefore, QString("custom_8.5x11.5in_8.5x11.5in"));
        QCOMPARE(MediaOf("tallowin-600"), std::string("na_letter_8.5x11in"));
        QCOMPARE(MediaOf("tallowin-300"), std::string());
    }

    void cancelStoresNothing() {
        QVERIFY2(qEnvironmentVariableIsSet("CUPS_SERVER"), "CUPS_SERVER is not set");
        QListWidget view;
        RunRecord record;
        PrinterPanel printers(&view,
                              Choose(record, "media", "na_letter_8.5x11in", QDialog::Rejected));
        printers.Fill(EnumeratePrinters(), PrinterIcon());
        const int row = RowOf(view, "tallowin-600");
        QVERIFY(row >= 0);
        view.item(row)->setSelected(true);

        printers.OpenDefaultsDialog(nullptr);

        QCOMPARE(record.Runs, 1);
        QCOMPARE(MediaOf("tallowin-600"), std::string());
        QVERIFY(!QFile::exists(LpoptionsPath()));
    }

    void okWithoutAChangeStoresNothing() {
        QVERIFY2(qEnvironmentVariableIsSet("CUPS_SERVER"), "CUPS_SERVER is not set");
        QListWidget view;
        int runs = 0;
        PrinterPanel printers(&view, [&runs](PrinterDefaultsDialog&) {
            ++runs;
            return int(QDialog::Accepted);
        });
        printers.Fill(EnumeratePrinters(), PrinterIcon());
        view.item(RowOf(view, "tallowin-300"))->setSelected(true);
        printers.OpenDefaultsDialog(nullptr);
        QCOMPARE(runs, 1);
        QVERIFY(!QFile::exists(LpoptionsPath()));
    }

    // Without a runner the dialog runs modally with exec(); a person's
    // choice and OK are played from inside its event loop.
    void theDialogRunsModallyOverItsParent() {
        QVERIFY2(qEnvironmentVariableIsSet("CUPS_SERVER"), "CUPS_SERVER is not set");
        QWidget window;
        QListWidget view(&window);
        PrinterPanel printers(&view);
        printers.Fill(EnumeratePrinters(), PrinterIcon());
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
            if (media != nullptr) media->setCurrentIndex(media->findData("na_foolscap_8.5x13in"));
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                              Qt::LeftButton);
        });
        printers.OpenDefaultsDialog(&window);

        QVERIFY(defaultsDialog);
        QCOMPARE(parentOfDialog, &window);
        QCOMPARE(MediaOf("tallowin-600"), std::string("na_foolscap_8.5x13in"));
    }
};

int main(int argc, char** argv) {
    // libcups reads HOME once, at its first call: the private one must be
    // in place before anything here talks to the scheduler.
    sandbox::Home();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    PrinterPanelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "printer_panel_test.moc"
