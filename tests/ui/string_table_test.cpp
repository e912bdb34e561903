#include "res/string_table.h"

#include <QTest>

#include <limits>

using namespace tallowin;

// Every id of the table with its exact text, byte for byte, and the ids
// around and between them that the table does not hold.
class StringTableTest : public QObject {
    Q_OBJECT

  private slots:
    void knownIdGivesItsText_data();
    void knownIdGivesItsText();
    void unknownIdGivesEmptyText_data();
    void unknownIdGivesEmptyText();
    void formatSubstitutesTheWholeArgument();
};

void StringTableTest::knownIdGivesItsText_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QByteArray>("text");

    const auto row = [](int id, const char* text) {
        QTest::addRow("%d %s", id, text) << id << QByteArray(text);
    };
    row(101, "&About Tallowin...");
    row(103, "Windows sockets initialization failed.");
    row(104, "There is no hot folder selected!");
    row(105, "There is no printers installed!");
    row(106, "Are you sure to delete hot folder %s?");
    row(107, "Printer name: %s is not valid!");
    row(108, "Hot folder %s already exists!");
    row(109, "Waiting");
    row(110, "Error");
    row(111, "Running");
    row(112, "Resizing");
    row(113, "Printing");
    for (int id = 114; id <= 118; ++id) row(id, "Unknown");
    row(119, "No errors");
    row(120, "Path is not valid");
    row(121, "Printer name is not valid");
    row(122, "Not a picture or unsupported format");
    row(123, "Damaged or incomplete picture");
    row(124, "Picture too large");
    row(125, "Printer cannot be reached");
    row(126, "Printer refused or aborted the job");
    row(127, "Printer gives no usable page size");
    row(128, "Printed but could not be deleted");
    row(129, "Scan time should be at least 5 seconds!");
}

void StringTableTest::knownIdGivesItsText() {
    QFETCH(int, id);
    QFETCH(QByteArray, text);
    QCOMPARE(LoadString(id).toUtf8(), text);
}

void StringTableTest::unknownIdGivesEmptyText_data() {
    QTest::addColumn<int>("id");

    QTest::newRow("0") << 0;
    QTest::newRow("100 (below the first)") << 100;
    QTest::newRow("102 (the gap)") << 102;
    QTest::newRow("130 (above the last)") << 130;
    QTest::newRow("-1") << -1;
    QTest::newRow("-109") << -109;
    QTest::newRow("INT_MIN") << std::numeric_limits<int>::min();
    QTest::newRow("INT_MAX") << std::numeric_limits<int>::max();
}

void StringTableTest::unknownIdGivesEmptyText() {
    QFETCH(int, id);
    const QString text = LoadString(id);
    QVERIFY2(text.isEmpty(), qPrintable(QStringLiteral("got \"%1\"").arg(text)));
}

void StringTableTest::formatSubstitutesTheWholeArgument() {
    QCOMPARE(FormatString(106, "Photos"), QString("Are you sure to delete hot folder Photos?"));
    // Nothing in the argument is a pattern: not %s, not %1.
    QCOMPARE(FormatString(108, "100%s %1 done"),
             QString("Hot folder 100%s %1 done already exists!"));
    QCOMPARE(FormatString(107, ""), QString("Printer name:  is not valid!"));
    QCOMPARE(FormatString(109, "x"), QString("Waiting"));  // no pattern: the text as it is
}

QTEST_APPLESS_MAIN(StringTableTest)

#include "string_table_test.moc"
