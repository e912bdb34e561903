#include "ui/folder_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QShowEvent>
#include <QUrl>
#include <functional>

#include "ui/message_box.h"

namespace tallowin {

namespace {

// The picker's name field, as Qt's own file dialog names it.
constexpr const char* kNameFieldName = "fileNameEdit";

// Qt's folder dialog with two places to hook in that it has no signal for:
// its first showing, and OK before it closes.
class FolderPicker final : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    std::function<void()> onFirstShow;
    // Returns whether OK may go on; when it returns false the picker has
    // either stayed open or been closed by the hook itself.
    std::function<bool()> onAccept;

  protected:
    void showEvent(QShowEvent* event) override {
        QFileDialog::showEvent(event);
        if (shown_) return;
        shown_ = true;
        if (onFirstShow) onFirstShow();
    }

    void accept() override {
        if (onAccept && !onAccept()) return;
        QFileDialog::accept();
    }

  private:
    bool shown_ = false;
};

}  // namespace

CFolderDialog::CFolderDialog(const QString& title, const QString& initialFolder, QWidget* parent,
                             unsigned flags)
    : m_title(title), m_parent(parent), m_flags(flags) {
    // No path this long can be opened, so there is nothing to select; a cut
    // one would select some other folder.
    if (initialFolder.toUtf8().size() <= kMaxPathBytes) m_initialPath = initialFolder;
}

CFolderDialog::~CFolderDialog() = default;

template <typename Handler>
auto CFolderDialog::Notify(QFileDialog& picker, Handler&& handler) {
    struct Scope {
        QFileDialog*& window;
        ~Scope() { window = nullptr; }
    } scope{m_hBrowseWnd};
    m_hBrowseWnd = &picker;
    return handler();
}

int CFolderDialog::DoModal() {
    m_selectedPath.clear();

    FolderPicker picker(m_parent);
    picker.setOption(QFileDialog::DontUseNativeDialog);
    picker.setFileMode(QFileDialog::Directory);
    picker.setOption(QFileDialog::ShowDirsOnly);
    if (!m_title.isEmpty()) picker.setWindowTitle(m_title);
    if (m_flags & BIF_STATUSTEXT) {
        // A line of its own under everything else, across the whole width.
        auto* status = new QLabel(&picker);  // owned by the picker
        status->setObjectName(kStatusLineName);
        status->setTextFormat(Qt::PlainText);
        status->setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (auto* grid = qobject_cast<QGridLayout*>(picker.layout())) {
            grid->addWidget(status, grid->rowCount(), 0, 1, grid->columnCount());
        } else if (picker.layout() != nullptr) {
            picker.layout()->addWidget(status);
        }
    }

    // The chosen item as the picker announces it on OK: Qt's own dialog
    // names a local file, a dialog that can browse remote places a URL.
    QUrl chosen;
    QObject::connect(&picker, &QFileDialog::fileSelected, &picker,
                     [&chosen](const QString& file) { chosen = QUrl::fromLocalFile(file); });
    QObject::connect(&picker, &QFileDialog::urlSelected, &picker,
                     [&chosen](const QUrl& url) { chosen = url; });
    QObject::connect(
        &picker, &QFileDialog::currentChanged, &picker,
        [this, &picker](const QString& path) { Notify(picker, [&] { OnSelChanged(path); }); });
    picker.onFirstShow = [this, &picker] { Notify(picker, [this] { OnInitialized(); }); };
    picker.onAccept = [this, &picker] {
        if (!(m_flags & BIF_VALIDATE)) return true;
        const QStringList files = picker.selectedFiles();
        if (files.isEmpty() || QFileInfo(files.first()).isDir()) return true;
        const auto* field = picker.findChild<QLineEdit*>(kNameFieldName);
        const QString typed = field != nullptr ? field->text() : files.first();
        if (Notify(picker, [&] { return OnValidateFailed(typed); }) == 0) picker.reject();
        return false;
    };
    Notify(picker, [this, &picker] { OnIUnknown(&picker); });

    const int result = RunPicker(picker);
    // Nothing of the picker reaches the handlers any more, not even while
    // it is being torn down.
    picker.blockSignals(true);
    picker.onFirstShow = nullptr;
    picker.onAccept = nullptr;

    if (result != QDialog::Accepted) return -1;
    if (chosen.isEmpty()) chosen = picker.selectedUrls().value(0);
    if (!chosen.isLocalFile() || chosen.toLocalFile().isEmpty()) return IDCANCEL;
    m_selectedPath = chosen.toLocalFile();
    return IDOK;
}

int CFolderDialog::RunPicker(QFileDialog& picker) {
    return picker.exec();
}

void CFolderDialog::OnInitialized() {
    if (!m_initialPath.isEmpty()) SetSelection(m_initialPath);
}

void CFolderDialog::OnSelChanged(const QString& path) {
    if ((m_flags & BIF_STATUSTEXT) && !path.isEmpty()) SetStatusText(path);
}

int CFolderDialog::OnValidateFailed(const QString&) {
    QApplication::beep();
    return 1;
}

void CFolderDialog::OnIUnknown(QFileDialog*) {}

void CFolderDialog::SetSelection(const QString& path) {
    if (m_hBrowseWnd == nullptr || path.isEmpty()) return;
    const QFileInfo info(path);
    if (!info.isDir()) return;
    m_hBrowseWnd->selectFile(QDir::cleanPath(info.absoluteFilePath()));
}

void CFolderDialog::SetStatusText(const QString& text) {
    if (m_hBrowseWnd == nullptr) return;
    if (auto* status = m_hBrowseWnd->findChild<QLabel*>(kStatusLineName)) status->setText(text);
}

}  // namespace tallowin
