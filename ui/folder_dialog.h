// CFolderDialog: lets the user pick a folder and hands back its file-system
// path. Used like any modal dialog: construct it with a title, an initial
// folder, a parent and the browse flags, run DoModal, read m_selectedPath
// after IDOK.
//
// The picker is Qt's own folder dialog (QFileDialog, directories only, never
// the desktop's native one, so that it behaves the same everywhere, the
// offscreen platform included). Its notifications reach the virtual
// handlers below, each with m_hBrowseWnd pointing at the picker:
//   - OnIUnknown: once, when the picker is set up and before it shows;
//   - OnInitialized: once, when the picker first shows;
//   - OnSelChanged: the picker's current item changed (its currentChanged);
//   - OnValidateFailed: with BIF_VALIDATE only, OK was pressed on a typed
//     name that is not an existing folder.
// One object serves one modal run on the user-interface thread; it is not
// thread-safe.
#pragma once

#include <QString>

class QFileDialog;
class QWidget;

namespace tallowin {

// The browse flags callers pass, with the values they have always had.
// Honoured: BIF_STATUSTEXT (a status line under the picker's name field that
// the default OnSelChanged fills with the selected folder's path) and
// BIF_VALIDATE (OnValidateFailed). The picker always has an edit field for a
// typed name and always offers file-system folders only, so BIF_EDITBOX and
// BIF_RETURNONLYFSDIRS hold whether passed or not; BIF_VALIDATE therefore
// works without BIF_EDITBOX. BIF_NEWDIALOGSTYLE and BIF_UAHINT describe the
// look of another platform's browser and change nothing here.
enum BrowseFlags : unsigned {
    BIF_RETURNONLYFSDIRS = 0x0001,
    BIF_STATUSTEXT = 0x0004,
    BIF_EDITBOX = 0x0010,
    BIF_VALIDATE = 0x0020,
    BIF_NEWDIALOGSTYLE = 0x0040,
    BIF_UAHINT = 0x0100,
};

class CFolderDialog {
  public:
    // title: shown as the picker's window title; empty for the picker's own
    // ("Find Directory"). initialFolder: selected when the picker opens, if
    // it names an existing folder (a relative one against the working
    // folder); empty for none. A folder longer than kMaxPathBytes (in UTF-8)
    // cannot be opened by any system call and is dropped: the picker then
    // opens as with none. parent: the picker's parent window, may be null;
    // it must outlive DoModal. flags: the BIF_ values above.
    CFolderDialog(const QString& title, const QString& initialFolder, QWidget* parent,
                  unsigned flags);
    virtual ~CFolderDialog();
    CFolderDialog(const CFolderDialog&) = delete;
    CFolderDialog& operator=(const CFolderDialog&) = delete;

    // Longest initial folder kept, in bytes: the system's path limit less
    // its terminator.
    static constexpr int kMaxPathBytes = 4095;
    // The objectName of the status line (a QLabel under the picker's name
    // field), present only with BIF_STATUSTEXT.
    static constexpr const char* kStatusLineName = "folderStatusText";

    // Runs the picker modally. Returns IDOK (1) when the user chose an item
    // with a file-system path, which m_selectedPath then holds; IDCANCEL (2)
    // when the chosen item has none (a remote URL); -1 when the user
    // cancelled. m_selectedPath is empty unless the result is IDOK.
    int DoModal();

    const QString& Title() const { return m_title; }
    const QString& InitialPath() const { return m_initialPath; }
    QWidget* Parent() const { return m_parent; }
    unsigned Flags() const { return m_flags; }

    // The folder chosen by the last DoModal that returned IDOK.
    QString m_selectedPath;

  protected:
    // Default: selects m_initialPath (SetSelection) unless it is empty.
    virtual void OnInitialized();
    // path: the picker's new current item, absolute; may be empty when the
    // picker has none. Default: with BIF_STATUSTEXT, a non-empty path goes
    // to the status line (SetStatusText); otherwise nothing.
    virtual void OnSelChanged(const QString& path);
    // text: the name as typed in the picker's name field. Return nonzero to
    // keep the picker open, 0 to close it as cancelled (DoModal gives -1).
    // Default: the error beep, then 1.
    virtual int OnValidateFailed(const QString& text);
    // picker: the picker itself, for a subclass that customises it (a proxy
    // model, the sidebar). Default: nothing.
    virtual void OnIUnknown(QFileDialog* picker);

    // What a handler can ask of the picker; both do nothing outside a
    // notification. SetSelection selects path if it names an existing
    // folder (the picker lists its parent and puts its name in the name
    // field) and ignores it otherwise. SetStatusText shows text on the
    // status line, which exists only with BIF_STATUSTEXT.
    void SetSelection(const QString& path);
    void SetStatusText(const QString& text);

    // Runs the configured picker and returns its result code
    // (QDialog::Accepted or Rejected). Default: picker.exec(). Tests override
    // it to drive the picker without a person.
    virtual int RunPicker(QFileDialog& picker);

    // The picker while a handler runs; null otherwise. Owned by DoModal.
    QFileDialog* m_hBrowseWnd = nullptr;

  private:
    // Calls handler with m_hBrowseWnd set to picker, and resets it after.
    template <typename Handler>
    auto Notify(QFileDialog& picker, Handler&& handler);

    QString m_title;
    QString m_initialPath;
    QWidget* m_parent;
    unsigned m_flags;
};

}  // namespace tallowin
