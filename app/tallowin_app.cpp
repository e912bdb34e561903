#include "app/tallowin_app.h"

#include <QApplication>
#include <iostream>

#include "app/row_texts.h"
#include "os/app_environment.h"
#include "res/string_table.h"
#include "store/ini_profile.h"
#include "ui/bytes_text.h"
#include "ui/message_box.h"
#include "ui/tallowin_dlg.h"

namespace tallowin {

namespace {

constexpr int kSocketsFailedString = 103;

// A note as a message box says it: its first letter a capital.
QString Sentence(const std::string& text) {
    QString sentence = FromBytes(text);
    if (!sentence.isEmpty()) sentence[0] = sentence[0].toUpper();
    return sentence;
}

}  // namespace

CTallowinApp::CTallowinApp(std::string profilePath) : m_profilePath(std::move(profilePath)) {}

bool CTallowinApp::InitInstance() {
    if (!SocketsAvailable()) {
        ShowMessageBox(nullptr, LoadString(kSocketsFailedString), QApplication::applicationName(),
                       MB_OK);
        return false;
    }
    m_applicationFolder = FromBytes(HelpFolder());

    const IniProfile profile(m_profilePath);
    m_profile = std::make_unique<DiskProfileSync>(profile, m_hotFolderList, m_adapters.Log());
    m_adapters.Configure(profile);
    m_hotFolderList.Load(profile);
    for (const StartupNote& note :
         m_adapters.StartupNotes(m_profilePath, profile, m_hotFolderList)) {
        ShowMessageBox(nullptr, Sentence(note.Text), QApplication::applicationName(),
                       MB_OK | MB_ICONEXCLAMATION);
    }
    m_hotFolderThread.SetList(m_hotFolderList);
    m_hotFolderThread.Create();
    // Asked from its own thread while the window is open.
    const StatusEndpoint status(m_profilePath, "window", m_hotFolderList, m_hotFolderThread,
                                RowTexts());
    if (!status.Listening().Ok()) {
        std::cerr << "tallowin: `tallowin status` cannot ask this window: "
                  << status.Listening().Reason << "\n";
    }

    CTallowinDlg dlg(m_hotFolderList, m_hotFolderThread, m_recentLog,
                     FromBytes(m_adapters.FileLog().Path()), m_applicationFolder, m_printers);
    dlg.FollowProfile(*m_profile);
    dlg.exec();
    return false;
}

int CTallowinApp::ExitInstance() {
    if (!m_profile || !m_hotFolderList.IsLoaded()) return 0;
    const DiskProfileSync::Saved saved = m_profile->Save();
    switch (saved.Outcome) {
        case HotFolderList::SaveOutcome::Saved:
            return 0;
        case HotFolderList::SaveOutcome::KeptEdit:
        case HotFolderList::SaveOutcome::Merged:
            // Nothing is lost, and the print log says so; no window remains to
            // show it in.
            std::cerr
                << "tallowin: " << m_profilePath << " was edited on disk while Tallowin ran; "
                << (saved.Outcome == HotFolderList::SaveOutcome::KeptEdit
                        ? "that edit is kept and nothing was written over it\n"
                        : "that edit is kept and the window's changes were saved beside it\n");
            return 0;
        case HotFolderList::SaveOutcome::Failed:
            break;
    }
    if (m_endedBySignal) {
        std::cerr << "tallowin: the hot folders could not be saved to " << m_profilePath << ": "
                  << saved.Error << "\n";
        return 1;
    }
    ShowMessageBox(nullptr,
                   QString("The hot folders could not be saved to %1: %2")
                       .arg(FromBytes(m_profilePath), FromBytes(saved.Error)),
                   QApplication::applicationName(), MB_OK | MB_ICONEXCLAMATION);
    return 1;
}

}  // namespace tallowin
