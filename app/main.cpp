// Tallowin: prints image files dropped into watched folders.
#include <malloc.h>

#include <QApplication>
#include <QIcon>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/composition.h"
#include "app/list_printers.h"
#include "app/print_command.h"
#include "app/row_texts.h"
#include "app/service.h"
#include "app/signal_interrupt.h"
#include "app/status_report.h"
#include "app/tallowin_app.h"
#include "app/termination_signals.h"
#include "cups/cups_printers.h"
#include "cups/cups_spooler.h"
#include "os/app_environment.h"
#include "os/instance_lock.h"
#include "os/signal_fd.h"
#include "os/tick.h"
#include "page/vips_image.h"
#include "store/ini_profile.h"
#include "store/print_record.h"
#include "ui/message_box.h"

namespace tallowin {

namespace {

int RunWindow(const std::string& profilePath) {
    // Qt sees no arguments: the command line has been read already.
    int qtArgc = 1;
    char name[] = "tallowin";
    char* qtArgv[] = {name, nullptr};
    QApplication qapp(qtArgc, qtArgv);
    QApplication::setApplicationName("Tallowin");
    QApplication::setWindowIcon(QIcon(":/res/tallowin.png"));

    // A logout, `kill` or Ctrl+C closes whatever window is open the normal
    // way (a message box, the main window), so the hot folders are saved and
    // the worker ends exactly as after Exit; nobody is left to read a
    // message then, so a failed save goes to stderr.
    bool endedBySignal = false;
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::Received, [&endedBySignal] {
        endedBySignal = true;
        QApplication::closeAllWindows();
    });

    const InstanceLock lock(LockPathFor(profilePath));
    if (!lock.Result().Acquired) {
        std::cerr << "tallowin: not starting: " << lock.Result().Reason << "\n";
        ShowMessageBox(nullptr,
                       QString("Tallowin is already running with the profile %1 (process %2). "
                               "Only one Tallowin may use a profile at a time.")
                           .arg(QString::fromUtf8(profilePath.c_str()))
                           .arg(lock.Result().HolderPid),
                       QApplication::applicationName(), MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }

    // The worker is joined when the application object goes, after the save.
    CTallowinApp app(profilePath);
    app.InitInstance();
    if (endedBySignal) app.EndedBySignal();
    return app.ExitInstance();
}

// Every page is made of large buffers (strips, rows, libvips' regions) that
// live for one page, on threads that come and go with it. By default glibc
// gives such threads arenas of their own, up to eight per core, and keeps
// what they free; and after the first large buffer is freed it raises its
// mmap threshold, so the next pages' buffers come from those arenas too. A
// service that runs for months then holds its largest burst's memory for
// good. Two arenas (a page's two busy threads) and a fixed threshold hand
// each page's large buffers back to the system when the page is done.
void KeepPageBuffersShortLived() {
    mallopt(M_ARENA_MAX, 2);
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
}

// Ctrl+C ends the sending and the wait through the command's own exit, so
// the record is never left half-written and every pending job is named. The
// signals are blocked before the first thread starts, so none of the
// library's threads takes one.
int RunPrint(const CommandLine& command, const std::string& profile) {
    SignalFd received;
    if (!received.Valid()) {
        std::cerr << "tallowin: the interrupt signals cannot be read; not printing\n";
        return kPrintNotPrinted;
    }
    SignalInterrupt interrupt(received);
    MonotonicClock clock;
    VipsImageLoader images(DecodeMemoryLimitOf(IniProfile(profile)));
    CupsSpooler spooler;
    // The state folder is made private here too, should print be first.
    PrintRecord record(UserStatePaths().PrintRecord);
    PrintServices services{images, spooler, record, clock, interrupt, std::cerr};
    return RunPrintCommand({command.Printer, command.Files, command.Wait, command.Settings},
                           services);
}

int Main(int argc, char** argv) {
    KeepPageBuffersShortLived();
    const CommandLine command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    const std::string profile = command.Profile.empty() ? ProfilePath() : command.Profile;
    switch (command.Mode) {
        case RunMode::Help:
            std::cout << UsageText();
            return 0;
        case RunMode::Version:
            std::cout << "tallowin " << TALLOWIN_VERSION << "\n";
            return 0;
        case RunMode::Invalid:
            std::cerr << "tallowin: " << command.Error << "\n" << UsageText();
            return 2;
        case RunMode::ListPrinters: {
            CupsSpooler spooler;
            CupsPrinterCatalogue printers;
            return RunListPrinters(printers.PrinterNames(), spooler, std::cout, std::cerr);
        }
        case RunMode::Print:
            return RunPrint(command, profile);
        case RunMode::Status:
            return RunStatusCommand(profile, command.Json, std::cout, std::cerr);
        case RunMode::Service:
            return RunService(profile, RowTexts());
        case RunMode::Window:
            break;
    }
    return RunWindow(profile);
}

}  // namespace

}  // namespace tallowin

int main(int argc, char** argv) {
    return tallowin::Main(argc, argv);
}
