// The Log view on the offscreen platform: recent entries newest first, the
// hot folder filter, live refresh, and the button that opens the log file.
#include "ui/log_view.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include "scheduling/recent_print_log.h"

using namespace tallowin;

namespace {

// Receives the URLs the view asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

PrintLogEntry Entry(const std::string& folder, const std::string& file,
                    PrintLogEntry::Outcome outcome) {
    PrintLogEntry e;
    e.Time = std::chrono::system_clock::now();
    e.HotFolder = folder;
    e.File = file;
    e.Printer = "office";
    e.Result = outcome;
    return e;
}

}  // namespace

class LogViewTest : public QObject {
    Q_OBJECT

    static QTreeWidget* Entries(LogView& v) { return v.findChild<QTreeWidget*>("logEntries"); }
    static QStringList Column(LogView& v, int column) {
        QStringList out;
        QTreeWidget* t = Entries(v);
        for (int r = 0; r < t->topLevelItemCount(); ++r) out << t->topLevelItem(r)->text(column);
        return out;
    }

  private slots:
    void listsEntriesNewestFirstAndFiltersByFolder() {
        RecentPrintLog log;
        PrintLogEntry sent = Entry("Photos", "/p/a.jpg", PrintLogEntry::Outcome::Sent);
        sent.JobId = 17;
        sent.Width = 4800;
        sent.Height = 3200;
        log.Record(sent);
        PrintLogEntry kept = Entry("Scans", "/s/b.png", PrintLogEntry::Outcome::Kept);
        kept.Code = HF_ERR_DAMAGED;
        kept.Reason = "premature end";
        log.Record(kept);
        log.Record(Entry("Photos", "/p/a.jpg", PrintLogEntry::Outcome::Printed));

        LogView view(log, "/var/log/tallowin.log");
        view.SetHotFolders({"Photos", "Scans"});
        QCOMPARE(Column(view, 2), (QStringList{"/p/a.jpg", "/s/b.png", "/p/a.jpg"}));
        QCOMPARE(Column(view, 3), (QStringList{"Printed", "Kept", "Sent"}));
        QCOMPARE(Column(view, 5), (QStringList{"", "", "17"}));
        QCOMPARE(Column(view, 6), (QStringList{"", "", QString::fromUtf8("4800 \u00d7 3200")}));
        QCOMPARE(Column(view, 7)[1], QString("Damaged or incomplete picture: premature end"));

        auto* filter = view.findChild<QComboBox*>("logFilter");
        QCOMPARE(filter->count(), 3);
        filter->setCurrentIndex(2);  // Scans
        QCOMPARE(Column(view, 1), QStringList{"Scans"});
        filter->setCurrentIndex(0);  // All
        QCOMPARE(Column(view, 1).size(), 3);
    }

    void aFolderOfAnotherHotFolderAndItsReturnReadPlainly() {
        RecentPrintLog log;
        PrintLogEntry same = Entry("Copy", "/p", PrintLogEntry::Outcome::Kept);
        same.Code = HF_ERR_DUPLICATE;
        same.Reason = "hot folder \"Photos\" watches this folder";
        log.Record(same);
        log.Record(Entry("Copy", "/p", PrintLogEntry::Outcome::FolderBack));
        LogView view(log, "");
        QCOMPARE(Column(view, 3), (QStringList{"Folder back", "Kept"}));
        QCOMPARE(Column(view, 7)[1],
                 QString("Same folder as another hot folder: hot folder \"Photos\" watches this "
                         "folder"));
    }

    void chosenFolderStaysChosenWhileOffered() {
        RecentPrintLog log;
        LogView view(log, "");
        auto* filter = view.findChild<QComboBox*>("logFilter");
        view.SetHotFolders({"A", "B"});
        filter->setCurrentIndex(2);
        view.SetHotFolders({"B", "C"});
        QCOMPARE(filter->currentText(), QString("B"));
        view.SetHotFolders({"C"});
        QCOMPARE(filter->currentIndex(), 0);
    }

    void newEntriesAppearWhileOpen() {
        RecentPrintLog log;
        LogView view(log, "");
        view.show();
        QCOMPARE(Entries(view)->topLevelItemCount(), 0);
        log.Record(Entry("Photos", "/p/new.jpg", PrintLogEntry::Outcome::Sent));
        QTRY_COMPARE_WITH_TIMEOUT(Entries(view)->topLevelItemCount(), 1, 5000);
        QCOMPARE(Column(view, 2), QStringList{"/p/new.jpg"});
    }

    void openLogFileOpensThePathItWasGiven() {
        RecentPrintLog log;
        LogView view(log, "/var/log/tallowin/print.log");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "Open");
        QTest::mouseClick(view.findChild<QPushButton*>("openLogFileButton"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls[0], QUrl::fromLocalFile("/var/log/tallowin/print.log"));

        LogView none(log, "");
        QVERIFY(!none.findChild<QPushButton*>("openLogFileButton")->isEnabled());
    }
};

QTEST_MAIN(LogViewTest)
#include "log_view_test.moc"
