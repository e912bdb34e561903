#include "app/tallowin_app.h"

#include <QApplication>
#include <iostream>

#include "app/ledger_report.h"
#include "os/app_environment.h"
#include "res/string_table.h"
#include "store/ini_profile.h"
#include "ui/bytes_text.h"
#include "ui/message_box.h"
#include "ui/tallowin_dlg.h"

namespace tallowin {

namespace {

constexpr int kSocketsFailedString = 103;

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
    m_profile = std::make_unique<DiskProfileSync>(profile, m_hotFolderList, m_log);
    m_images.SetDecodeMemoryLimit(DecodeMemoryLimitOf(profile));
    if (!m_hotFolderList.Load(profile)) {
        // Starting with no folders is safe; saving that over the user's
        // profile would not be, so nothing is saved at exit either.
        ShowMessageBox(nullptr,
                       QString("The hot folders could not be read from %1 (%2). Tallowin starts "
                               "without them and will not save over that file.")
                           .arg(FromBytes(m_profilePath), FromBytes(profile.GetError())),
                       QApplication::applicationName(), MB_OK | MB_ICONEXCLAMATION);
    }
    // One message for all of them; they stay in the file as they are.
    QString skipped;
    for (const auto& s : m_hotFolderList.GetSkipped())
        skipped += QString("\n[%1]: %2").arg(FromBytes(s.Section), FromBytes(s.Reason));
    if (!skipped.isEmpty()) {
        ShowMessageBox(nullptr,
                       QString("These hot folders in %1 could not be loaded and were skipped; "
                               "they are kept in the file as they are:%2")
                           .arg(FromBytes(m_profilePath), skipped),
                       QApplication::applicationName(), MB_OK | MB_ICONEXCLAMATION);
    }
    // Printing goes on without them, but the user must know what is lost:
    // no record of jobs in flight (a file could be sent twice), or no log.
    // A damaged ledger also goes to the print log and its view.
    if (const std::optional<PrintLogEntry> entry = LedgerLoadEntry(m_ledger)) m_log.Record(*entry);
    for (const Status* state : {&m_ledger.LoadStatus(), &m_fileLog.OpenStatus()}) {
        if (state->Ok()) continue;
        ShowMessageBox(nullptr, FromBytes(state->Reason), QApplication::applicationName(),
                       MB_OK | MB_ICONEXCLAMATION);
    }
    m_hotFolderThread.SetList(m_hotFolderList);
    m_hotFolderThread.Create();

    CTallowinDlg dlg(m_hotFolderList, m_hotFolderThread, m_recentLog, FromBytes(m_fileLog.Path()),
                     m_applicationFolder, m_printers);
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
