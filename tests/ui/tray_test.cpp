// The tray's look, tooltip and notifications from the folders' rows, through
// a fake surface; and no tray at all where the platform has none.
#include "ui/tray_icon.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QtTest>

#include "engine/hot_folder_types.h"

using namespace tallowin;

namespace {

TrayFolder Folder(const QString& name, std::int32_t error = HF_ERR_NONE,
                  const QString& errorText = "No errors") {
    TrayFolder f;
    f.Name = name;
    f.Printer = "office";
    f.State = HF_STATE_RUNNING;
    f.Error = error;
    f.ErrorText = errorText;
    return f;
}

TrayFolder Kept(TrayFolder f, const QString& file, std::int64_t timeMs) {
    f.Error = HF_ERR_DAMAGED;
    f.ErrorText = "Damaged or incomplete picture";
    f.FailureFile = file;
    f.FailureTimeMs = timeMs;
    f.FailureCode = HF_ERR_DAMAGED;
    f.FailureText = "Premature end of JPEG file";
    return f;
}

TrayFolder NeedsAttention(TrayFolder f, const QString& printer = "office") {
    f.Printer = printer;
    f.Error = HF_ERR_PRINTER_ATTENTION;
    f.ErrorText = "Printer needs attention: Out of paper";
    f.PrinterTrouble = "Out of paper";
    return f;
}

using Rows = std::vector<TrayFolder>;
using Messages = std::vector<TrayMessage>;

// Records what the tray was told.
class FakeSurface final : public TraySurface {
  public:
    void Show(TrayLook look, const QString& toolTip) override { shows.push_back({look, toolTip}); }
    void Notify(const TrayMessage& message) override { messages.push_back(message); }

    std::vector<std::pair<TrayLook, QString>> shows;
    Messages messages;
};

}  // namespace

Q_DECLARE_METATYPE(tallowin::TrayLook)
Q_DECLARE_METATYPE(Rows)
Q_DECLARE_METATYPE(Messages)

class TrayTest : public QObject {
    Q_OBJECT

  private slots:
    void LookAndToolTip_data() {
        QTest::addColumn<bool>("started");
        QTest::addColumn<Rows>("folders");
        QTest::addColumn<TrayLook>("look");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("stopped") << false << Rows{Folder("Photos")} << TrayLook::Stopped
                                 << "Tallowin: stopped";
        QTest::newRow("stopped_with_an_error")
            << false << Rows{Folder("Photos", HF_ERR_PATH, "Path is not valid")}
            << TrayLook::Stopped << "Tallowin: stopped";
        QTest::newRow("running") << true << Rows{Folder("Photos"), Folder("Scans")}
                                 << TrayLook::Running << "Tallowin: running, 2 hot folders";
        QTest::newRow("running_one") << true << Rows{Folder("Photos")} << TrayLook::Running
                                     << "Tallowin: running, 1 hot folder";
        QTest::newRow("attention")
            << true << Rows{Folder("Photos"), NeedsAttention(Folder("Scans"))}
            << TrayLook::Attention
            << "Tallowin: needs attention\nScans: Printer needs attention: Out of paper";
        QTest::newRow("a_kept_file_is_attention")
            << true << Rows{Kept(Folder("Photos"), "/in/a.jpg", 5)} << TrayLook::Attention
            << "Tallowin: needs attention\nPhotos: Damaged or incomplete picture";
    }
    void LookAndToolTip() {
        QFETCH(bool, started);
        QFETCH(Rows, folders);
        QFETCH(TrayLook, look);
        QFETCH(QString, toolTip);
        TrayPresenter presenter;
        const TrayUpdate update = presenter.Update(started, folders);
        QCOMPARE(update.Look, look);
        QCOMPARE(update.ToolTip, toolTip);
    }

    // Each event is told once: the rows of two refreshes in a row, and what
    // the second one tells.
    void TellsEachEventOnce_data() {
        QTest::addColumn<Rows>("before");
        QTest::addColumn<Rows>("after");
        QTest::addColumn<Messages>("told");
        const TrayFolder photos = Folder("Photos");
        const TrayMessage kept{"a.jpg kept", "Photos: Premature end of JPEG file"};
        const TrayMessage attention{"Printer needs attention", "office: Out of paper"};
        QTest::newRow("nothing_new") << Rows{photos} << Rows{photos} << Messages{};
        QTest::newRow("a_file_kept")
            << Rows{photos} << Rows{Kept(photos, "/in/a.jpg", 5)} << Messages{kept};
        QTest::newRow("the_same_failure_again") << Rows{Kept(photos, "/in/a.jpg", 5)}
                                                << Rows{Kept(photos, "/in/a.jpg", 5)} << Messages{};
        QTest::newRow("the_same_file_kept_again_later")
            << Rows{Kept(photos, "/in/a.jpg", 5)} << Rows{Kept(photos, "/in/a.jpg", 9)}
            << Messages{kept};
        TrayFolder gone = photos;
        gone.State = HF_STATE_ERROR;
        gone.Error = gone.FailureCode = HF_ERR_PATH;
        gone.FailureFile = "/in";
        gone.FailureTimeMs = 7;
        gone.FailureText = "No such file or directory";
        QTest::newRow("the_folder_gone")
            << Rows{photos} << Rows{gone}
            << Messages{{"Hot folder Photos not watched", "Photos: No such file or directory"}};
        QTest::newRow("a_printer_stops")
            << Rows{photos} << Rows{NeedsAttention(photos)} << Messages{attention};
        QTest::newRow("still_stopped")
            << Rows{NeedsAttention(photos)} << Rows{NeedsAttention(photos)} << Messages{};
        QTest::newRow("one_printer_two_folders")
            << Rows{photos, Folder("Scans")}
            << Rows{NeedsAttention(photos), NeedsAttention(Folder("Scans"))} << Messages{attention};
        QTest::newRow("two_printers")
            << Rows{photos, Folder("Scans")}
            << Rows{NeedsAttention(photos), NeedsAttention(Folder("Scans"), "lab")}
            << Messages{attention, {"Printer needs attention", "lab: Out of paper"}};
    }
    void TellsEachEventOnce() {
        QFETCH(Rows, before);
        QFETCH(Rows, after);
        QFETCH(Messages, told);
        TrayPresenter presenter;
        presenter.Update(true, {});  // the first look: what is there already is no news
        presenter.Update(true, before);
        const TrayUpdate update = presenter.Update(true, after);
        QCOMPARE(update.Messages.size(), told.size());
        for (std::size_t i = 0; i < told.size(); ++i) {
            QCOMPARE(update.Messages[i].Title, told[i].Title);
            QCOMPARE(update.Messages[i].Text, told[i].Text);
        }
    }

    void FailuresBeforeTheFirstLookAreNoNews() {
        TrayPresenter presenter;
        const Rows rows{Kept(Folder("Photos"), "/in/a.jpg", 5)};
        QVERIFY(presenter.Update(true, rows).Messages.empty());
        QVERIFY(presenter.Update(true, rows).Messages.empty());
    }

    void APrinterThatStopsAgainIsToldAgain() {
        TrayPresenter presenter;
        presenter.Update(true, {Folder("Photos")});
        QCOMPARE(presenter.Update(true, {NeedsAttention(Folder("Photos"))}).Messages.size(), 1u);
        QVERIFY(presenter.Update(true, {Folder("Photos")}).Messages.empty());
        QCOMPARE(presenter.Update(true, {NeedsAttention(Folder("Photos"))}).Messages.size(), 1u);
    }

    void TheSurfaceHearsOnlyChanges() {
        FakeSurface surface;
        TrayIcon tray(surface);
        tray.Refresh(true, {Folder("Photos")});
        tray.Refresh(true, {Folder("Photos")});
        QCOMPARE(surface.shows.size(), 1u);
        QCOMPARE(surface.shows[0].first, TrayLook::Running);
        tray.Refresh(true, {NeedsAttention(Folder("Photos"))});
        tray.Refresh(true, {NeedsAttention(Folder("Photos"))});
        QCOMPARE(surface.shows.size(), 2u);
        QCOMPARE(surface.shows[1].first, TrayLook::Attention);
        QCOMPARE(surface.messages.size(), 1u);
        tray.Refresh(false, {Folder("Photos")});
        QCOMPARE(surface.shows.back().first, TrayLook::Stopped);
    }

    void EachLookHasAnIconOfItsOwn() {
        const QImage stopped = TrayIconFor(TrayLook::Stopped).pixmap(32, 32).toImage();
        const QImage running = TrayIconFor(TrayLook::Running).pixmap(32, 32).toImage();
        const QImage attention = TrayIconFor(TrayLook::Attention).pixmap(32, 32).toImage();
        QVERIFY(!running.isNull());
        QVERIFY(stopped != running);
        QVERIFY(attention != running);
        QVERIFY(attention != stopped);
    }

    // The offscreen platform has no tray: none is made, and the window
    // carries on without one.
    void NoTrayWhereThePlatformHasNone() {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(SystemTraySurface::Make() == nullptr);
    }
};

QTEST_MAIN(TrayTest)
#include "tray_test.moc"
