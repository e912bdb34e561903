#include "app/tallowin_app.h"

#include <QApplication>
#include <iostream>

#include "platform/app_environment.h"
#include "platform/cups_printers.h"
#include "platform/ini_profile.h"
#include "res/string_table.h"
#include "ui/message_box.h"
#include "ui/tallowin_dlg.h"

namespace {

constexpr int kSocketsFailedString = 103;

QString FromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.c_str());
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
    m_loaded = m_hotFolderList.Load(profile);
    if (!m_loaded) {
        // Starting with no folders is safe; saving that over the user's
        // profile would not be, so nothing is saved at exit either.
        ShowMessageBox(nullptr,
                       QString("The hot folders could not be read from %1. Tallowin starts "
                               "without them and will not save over that file.")
                           .arg(FromBytes(m_profilePath)),
                       QApplication::applicationName(), MB_OK | MB_ICONEXCLAMATION);
    }
    m_hotFolderThread.SetList(m_hotFolderList);
    m_hotFolderThread.Create();

    CTallowinDlg dlg(m_hotFolderList, m_hotFolderThread, m_applicationFolder, EnumeratePrinters());
    dlg.exec();
    return false;
}

int CTallowinApp::ExitInstance() {
    if (!m_loaded) return 0;
    IniProfile profile(m_profilePath);
    if (!m_hotFolderList.Save(profile)) {
        if (m_endedBySignal) {
            std::cerr << "tallowin: the hot folders could not be saved to " << m_profilePath
                      << "\n";
            return 1;
        }
        ShowMessageBox(
            nullptr,
            QString("The hot folders could not be saved to %1.").arg(FromBytes(m_profilePath)),
            QApplication::applicationName(), MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }
    return 0;
}
