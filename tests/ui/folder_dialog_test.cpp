// The folder chooser on the offscreen platform, on real folders made by the
// tests. Each test drives Qt's own picker through RunPicker as a user would
// (typing into its name field, pressing Return, picking from its list,
// cancelling) and checks what DoModal hands back and which handlers ran.
#include "ui/folder_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <functional>
#include <memory>

#include "tests/support/temp_dir.h"
#include "ui/message_box.h"

using namespace tallowin;

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QLineEdit* NameField(QFileDialog& picker) {
    return picker.findChild<QLineEdit*>("fileNameEdit");
}

// Shows the picker as the active window, as it is for a user.
void Show(QFileDialog& picker) {
    picker.show();
    picker.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&picker));
}

// Puts text into the focused name field, as typing or pasting does. The
// picker lists a selection made in its list ahead of the name field, and
// drops that selection only for edits made with the field in focus.
void TypeName(QFileDialog& picker, const QString& text) {
    QLineEdit* field = NameField(picker);
    field->setFocus();
    field->setText(text);
}

QPushButton* ChooseButton(QFileDialog& picker) {
    auto* box = picker.findChild<QDialogButtonBox*>("buttonBox");
    return box != nullptr ? box->button(QDialogButtonBox::Open) : nullptr;
}

// Makes the picker's list current on path, as a click on it does.
bool PickInList(QFileDialog& picker, const QString& path) {
    auto* list = picker.findChild<QListView*>("listView");
    auto* model = list != nullptr ? qobject_cast<QFileSystemModel*>(list->model()) : nullptr;
    if (model == nullptr) return false;
    const QModelIndex index = model->index(path);
    if (!index.isValid()) return false;
    list->setCurrentIndex(index);
    return true;
}

// The folder Qt's picker opens on when nobody selects anything.
QString DefaultPickerDirectory() {
    QFileDialog reference;
    reference.setOption(QFileDialog::DontUseNativeDialog);
    reference.setFileMode(QFileDialog::Directory);
    reference.setOption(QFileDialog::ShowDirsOnly);
    return reference.directory().absolutePath();
}

// Records every handler with the window it was given, then does what the
// default handler does (or answers OnValidateFailed as told).
class RecordingFolderDialog : public CFolderDialog {
  public:
    using CFolderDialog::CFolderDialog;

    std::function<int(QFileDialog&)> run;  // the user; none: the real exec()
    QStringList events;
    QList<QFileDialog*> windows;  // m_hBrowseWnd during each event
    int validateAnswer = -1;      // -1: the default handler's answer
    QList<int> validateResults;
    bool noWindowInRun = false;  // m_hBrowseWnd null in RunPicker

  protected:
    int RunPicker(QFileDialog& picker) override {
        noWindowInRun = m_hBrowseWnd == nullptr;
        return run ? run(picker) : CFolderDialog::RunPicker(picker);
    }
    void OnInitialized() override {
        Record("Initialized");
        CFolderDialog::OnInitialized();
    }
    void OnSelChanged(const QString& path) override {
        Record("SelChanged " + path);
        CFolderDialog::OnSelChanged(path);
    }
    int OnValidateFailed(const QString& text) override {
        Record("ValidateFailed " + text);
        const int result =
            validateAnswer < 0 ? CFolderDialog::OnValidateFailed(text) : validateAnswer;
        validateResults.push_back(result);
        return result;
    }
    void OnIUnknown(QFileDialog* picker) override {
        Record(picker == m_hBrowseWnd ? "IUnknown picker" : "IUnknown other");
        CFolderDialog::OnIUnknown(picker);
    }

  private:
    void Record(const QString& event) {
        events.push_back(event);
        windows.push_back(m_hBrowseWnd);
    }
};

// Ends a picker a test left open, so that a failed check cannot hang the run.
int Close(QFileDialog& picker) {
    if (picker.isVisible()) picker.reject();
    return picker.result();
}

}  // namespace

class FolderDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> dir;
    QString root;    // the test's folder
    QString target;  // root/target, a folder
    QString file;    // root/plain.txt, a file
    // Qt's picker answers some entries with message boxes of its own. A
    // test that did not expect one would wait for a person for ever, so
    // they are closed as they come and their texts kept.
    QTimer boxCloser;
    QStringList boxes;

  private slots:
    void initTestCase() {
        connect(&boxCloser, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.push_back(box->text());
                box->reject();
            }
        });
        boxCloser.start(50);
    }

    void init() {
        boxes.clear();
        dir = std::make_unique<TempDir>();
        root = Q(dir->Path());
        target = root + "/target";
        file = root + "/plain.txt";
        QVERIFY(QDir().mkpath(target));
        QVERIFY(QDir().mkpath(root + "/other"));
        WriteFile(file.toStdString(), "not a folder");
    }
    void cleanup() {
        dir.reset();
        const bool expected =
            QString(QTest::currentTestFunction()) == "withoutValidateTheHandlerIsNotAsked";
        if (!expected) QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(" | ")));
    }

    void constructorKeepsItsArguments() {
        QWidget parent;
        CFolderDialog chooser("Pick one", target, &parent, 0x0150);
        QCOMPARE(chooser.Title(), QString("Pick one"));
        QCOMPARE(chooser.InitialPath(), target);
        QCOMPARE(chooser.Parent(), &parent);
        QCOMPARE(chooser.Flags(), 0x0150u);
        QVERIFY(chooser.m_selectedPath.isEmpty());
        QCOMPARE(unsigned(BIF_EDITBOX | BIF_NEWDIALOGSTYLE | BIF_UAHINT), 0x0150u);
        QCOMPARE(unsigned(BIF_STATUSTEXT), 0x0004u);
        QCOMPARE(unsigned(BIF_VALIDATE), 0x0020u);
    }

    // The longest initial folder is kept whole; one byte more and it is
    // dropped, never cut (a cut path would name some other folder).
    void overlongInitialFolderIsDropped_data() {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<bool>("kept");
        const int max = CFolderDialog::kMaxPathBytes;
        QTest::newRow("at the limit") << "/" + QString(max - 1, 'a') << true;
        QTest::newRow("one byte over") << "/" + QString(max, 'a') << false;
        QTest::newRow("10000 characters") << "/" + QString(9999, 'x') << false;
        // 2 bytes each in UTF-8: 2100 characters are 4200 bytes.
        QTest::newRow("over in bytes, not in characters")
            << "/" + QString(2100, QChar(0xE9)) << false;
    }
    void overlongInitialFolderIsDropped() {
        QFETCH(QString, initial);
        QFETCH(bool, kept);
        RecordingFolderDialog chooser({}, initial, nullptr, 0);
        QCOMPARE(chooser.InitialPath(), kept ? initial : QString());
        QString shownName;
        QString shownDirectory;
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            shownName = NameField(picker)->text();
            shownDirectory = picker.directory().absolutePath();
            return Close(picker);
        };
        QCOMPARE(chooser.DoModal(), -1);
        QCOMPARE(shownName, QString());
        QCOMPARE(shownDirectory, DefaultPickerDirectory());
    }

    // The initial folder is selected when the picker shows: its parent is
    // listed and its name stands in the name field, so OK takes it.
    void initialFolderIsSelected_data() {
        QTest::addColumn<QString>("initial");  // "@" stands for the test's folder
        QTest::addColumn<bool>("selected");
        QTest::newRow("folder") << "@/target" << true;
        QTest::newRow("trailing slash") << "@/target/" << true;
        QTest::newRow("through ..") << "@/other/../target" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("missing folder") << "@/missing" << false;
        QTest::newRow("a file") << "@/plain.txt" << false;
    }
    void initialFolderIsSelected() {
        QFETCH(QString, initial);
        QFETCH(bool, selected);
        initial.replace("@", root);
        RecordingFolderDialog chooser({}, initial, nullptr, 0);
        QStringList selection;
        QString shownName;
        QString shownDirectory;
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            selection = picker.selectedFiles();
            shownName = NameField(picker)->text();
            shownDirectory = picker.directory().absolutePath();
            return Close(picker);
        };
        QCOMPARE(chooser.DoModal(), -1);
        QVERIFY(chooser.m_selectedPath.isEmpty());
        if (selected) {
            QCOMPARE(selection, QStringList{target});
            QCOMPARE(shownName, QString("target"));
            QCOMPARE(shownDirectory, root);
        } else {
            QCOMPARE(shownName, QString());
            QCOMPARE(shownDirectory, DefaultPickerDirectory());
        }
    }

    void okWithAFolderGivesIdokAndItsPath_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("initial selection, OK clicked") << "initial";
        QTest::newRow("name typed, Return") << "typed";
        QTest::newRow("absolute path typed, Return") << "absolute";
        QTest::newRow("picked in the list, OK clicked") << "list";
    }
    void okWithAFolderGivesIdokAndItsPath() {
        QFETCH(QString, how);
        RecordingFolderDialog chooser({}, how == "initial" ? target : root + "/other", nullptr,
                                      0x0150);
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            if (how == "initial") {
                QTest::mouseClick(ChooseButton(picker), Qt::LeftButton);
            } else if (how == "typed" || how == "absolute") {
                TypeName(picker, how == "typed" ? "target" : target);
                QTest::keyClick(NameField(picker), Qt::Key_Return);
            } else {
                picker.setDirectory(root);
                if (PickInList(picker, target)) {
                    QTest::mouseClick(ChooseButton(picker), Qt::LeftButton);
                }
            }
            return Close(picker);
        };
        QCOMPARE(chooser.DoModal(), IDOK);
        QCOMPARE(chooser.m_selectedPath, target);
    }

    void cancelGivesMinusOneAndNoPath_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel button") << "button";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("close box") << "close";
    }
    void cancelGivesMinusOneAndNoPath() {
        QFETCH(QString, how);
        RecordingFolderDialog chooser({}, target, nullptr, 0x0150);
        // A first run that chose something, so the cancelled one must clear it.
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            QTest::mouseClick(ChooseButton(picker), Qt::LeftButton);
            return Close(picker);
        };
        QCOMPARE(chooser.DoModal(), IDOK);
        QCOMPARE(chooser.m_selectedPath, target);

        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            if (how == "button") {
                auto* box = picker.findChild<QDialogButtonBox*>("buttonBox");
                QTest::mouseClick(box->button(QDialogButtonBox::Cancel), Qt::LeftButton);
            } else if (how == "escape") {
                QTest::keyClick(&picker, Qt::Key_Escape);
            } else {
                picker.close();
            }
            const bool closed = !picker.isVisible();
            const int result = Close(picker);
            return closed ? result : 99;  // 99: the picker did not close by itself
        };
        QCOMPARE(chooser.DoModal(), -1);
        QVERIFY(chooser.m_selectedPath.isEmpty());
    }

    // The picker announces its choice on OK; one without a file-system path
    // (a remote place) gives IDCANCEL.
    void chosenItemWithoutLocalPathGivesIdcancel_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("expected");
        QTest::newRow("sftp") << QUrl("sftp://server/share") << IDCANCEL;
        QTest::newRow("https") << QUrl("https://example.com/folder") << IDCANCEL;
        QTest::newRow("local file URL") << QUrl::fromLocalFile("/srv/share") << IDOK;
    }
    void chosenItemWithoutLocalPathGivesIdcancel() {
        QFETCH(QUrl, url);
        QFETCH(int, expected);
        RecordingFolderDialog chooser({}, target, nullptr, 0);
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            emit picker.urlSelected(url);
            static_cast<QDialog&>(picker).done(QDialog::Accepted);
            return picker.result();
        };
        QCOMPARE(chooser.DoModal(), expected);
        QCOMPARE(chooser.m_selectedPath, expected == IDOK ? url.toLocalFile() : QString());
    }

    // Without an override the picker runs modally with exec(), over the
    // parent given.
    void realModalRunOverTheParent() {
        QWidget parent;
        RecordingFolderDialog chooser("Choose the hot folder", target, &parent, 0x0150);
        QFileDialog* seen = nullptr;
        QString title;
        QWidget* parentOfPicker = nullptr;
        QTimer::singleShot(0, [&] {
            seen = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (seen == nullptr) return;
            title = seen->windowTitle();
            parentOfPicker = seen->parentWidget();
            QTest::keyClick(NameField(*seen), Qt::Key_Return);
        });
        // Should the picker stay open after all, this ends it.
        QTimer safety;
        safety.setSingleShot(true);
        QObject::connect(&safety, &QTimer::timeout, [] {
            if (auto* open = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                open->reject();
            }
        });
        safety.start(30000);
        QCOMPARE(chooser.DoModal(), IDOK);
        QVERIFY(seen != nullptr);
        QCOMPARE(title, QString("Choose the hot folder"));
        QCOMPARE(parentOfPicker, &parent);
        QCOMPARE(chooser.m_selectedPath, target);
    }

    void handlersRunWithThePickerAsWindow() {
        RecordingFolderDialog chooser({}, target, nullptr, BIF_VALIDATE);
        QFileDialog* runPicker = nullptr;
        chooser.run = [&](QFileDialog& picker) {
            runPicker = &picker;
            Show(picker);
            PickInList(picker, root + "/other");
            TypeName(picker, "missing");
            QTest::keyClick(NameField(picker), Qt::Key_Return);
            TypeName(picker, "target");
            QTest::keyClick(NameField(picker), Qt::Key_Return);
            return Close(picker);
        };
        QCOMPARE(chooser.DoModal(), IDOK);
        const QStringList expected{"IUnknown picker", "Initialized",
                                   "SelChanged " + root + "/other", "ValidateFailed missing"};
        QCOMPARE(chooser.events, expected);
        QCOMPARE(chooser.windows.size(), expected.size());
        for (QFileDialog* window : chooser.windows) QCOMPARE(window, runPicker);
        QVERIFY(chooser.noWindowInRun);
    }

    void statusLineFollowsTheSelectionOnlyWithStatusText_data() {
        QTest::addColumn<unsigned>("flags");
        QTest::addColumn<bool>("status");
        QTest::newRow("BIF_STATUSTEXT") << 0x0004u << true;
        QTest::newRow("BIF_STATUSTEXT and more") << 0x0154u << true;
        QTest::newRow("the properties dialog's flags") << 0x0150u << false;
        QTest::newRow("none") << 0u << false;
    }
    void statusLineFollowsTheSelectionOnlyWithStatusText() {
        QFETCH(unsigned, flags);
        QFETCH(bool, status);
        RecordingFolderDialog chooser({}, QString(), nullptr, flags);
        bool hasLine = false;
        QString lineBefore = "unset";
        QStringList lineAfter;
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            picker.setDirectory(root);
            auto* line = picker.findChild<QLabel*>(CFolderDialog::kStatusLineName);
            hasLine = line != nullptr;
            if (line != nullptr) lineBefore = line->text();
            for (const QString& path : {target, root + "/other"}) {
                PickInList(picker, path);
                if (line != nullptr) lineAfter.push_back(line->text());
            }
            return Close(picker);
        };
        QCOMPARE(chooser.DoModal(), -1);
        QCOMPARE(hasLine, status);
        QVERIFY(chooser.events.contains("SelChanged " + target));
        QVERIFY(chooser.events.contains("SelChanged " + root + "/other"));
        if (status) {
            QCOMPARE(lineBefore, QString());
            QCOMPARE(lineAfter, (QStringList{target, root + "/other"}));
        }
    }

    // With BIF_VALIDATE, OK on a typed name that is not a folder asks
    // OnValidateFailed; its default (beep, 1) keeps the picker open, 0
    // closes it as cancelled.
    void validationOfTypedNames_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("answer");  // -1: the default handler
        QTest::addColumn<bool>("staysOpen");
        QTest::newRow("missing, default") << "no-such-folder" << -1 << true;
        QTest::newRow("a file, default") << "plain.txt" << -1 << true;
        QTest::newRow("missing absolute, default") << "/no/such/folder" << -1 << true;
        QTest::newRow("missing, handler says keep") << "no-such-folder" << 7 << true;
        QTest::newRow("missing, handler says close") << "no-such-folder" << 0 << false;
    }
    void validationOfTypedNames() {
        QFETCH(QString, typed);
        QFETCH(int, answer);
        QFETCH(bool, staysOpen);
        RecordingFolderDialog chooser({}, target, nullptr, BIF_VALIDATE);
        chooser.validateAnswer = answer;
        bool openAfterFailure = false;
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            TypeName(picker, typed);
            QTest::keyClick(NameField(picker), Qt::Key_Return);
            openAfterFailure = picker.isVisible();
            if (openAfterFailure) {
                // Still usable: a real folder now goes through.
                TypeName(picker, "target");
                QTest::mouseClick(ChooseButton(picker), Qt::LeftButton);
            }
            return Close(picker);
        };
        const int result = chooser.DoModal();
        QCOMPARE(chooser.events.filter("ValidateFailed"), QStringList{"ValidateFailed " + typed});
        QCOMPARE(chooser.validateResults, QList<int>{answer < 0 ? 1 : answer});
        QCOMPARE(openAfterFailure, staysOpen);
        QCOMPARE(result, staysOpen ? IDOK : -1);
        QCOMPARE(chooser.m_selectedPath, staysOpen ? target : QString());
    }

    // Without BIF_VALIDATE no handler is asked; the picker itself says the
    // folder was not found and stays open.
    void withoutValidateTheHandlerIsNotAsked() {
        RecordingFolderDialog chooser({}, target, nullptr, 0x0150);
        bool openAfterFailure = false;
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            TypeName(picker, "no-such-folder");
            QTest::keyClick(NameField(picker), Qt::Key_Return);  // the box closes on its own
            openAfterFailure = picker.isVisible();
            return Close(picker);
        };
        QCOMPARE(chooser.DoModal(), -1);
        QVERIFY(chooser.events.filter("ValidateFailed").isEmpty());
        QVERIFY(openAfterFailure);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains("no-such-folder"), qPrintable(boxes[0]));
    }

    // A handler that asks the picker for something outside a notification
    // finds no window and changes nothing.
    void helpersDoNothingOutsideNotifications() {
        struct Probe : RecordingFolderDialog {
            using RecordingFolderDialog::RecordingFolderDialog;
            void Poke() {
                SetSelection(QString());
                SetStatusText("ignored");
            }
        } chooser({}, target, nullptr, BIF_STATUSTEXT);
        chooser.Poke();
        QString line = "unset";
        chooser.run = [&](QFileDialog& picker) {
            Show(picker);
            chooser.Poke();
            line = picker.findChild<QLabel*>(CFolderDialog::kStatusLineName)->text();
            return Close(picker);
        };
        QCOMPARE(chooser.DoModal(), -1);
        QCOMPARE(line, QString());
    }
};

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's picker keeps its state in the user's settings; keep it out of
    // the real ones, and start from none.
    TempDir config;
    qputenv("XDG_CONFIG_HOME", config.Path().c_str());
    QApplication app(argc, argv);
    FolderDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "folder_dialog_test.moc"
