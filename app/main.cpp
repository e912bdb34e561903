// Tallowin: prints image files dropped into watched folders.
#include <QApplication>
#include <QIcon>

#include "app/tallowin_app.h"
#include "app/termination_signals.h"
#include "platform/app_environment.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("Tallowin");
    QApplication::setWindowIcon(QIcon(":/res/tallowin.png"));
    // A logout, `kill` or Ctrl+C closes whatever window is open the normal
    // way (a message box, the main window), so the hot folders are saved and
    // the worker ends exactly as after Exit.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::Received,
                     [] { QApplication::closeAllWindows(); });
    // The worker is joined when the application object goes, after the save.
    CTallowinApp app(ProfilePath());
    app.InitInstance();
    return app.ExitInstance();
}
