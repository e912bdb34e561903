// A main window over a list loaded from an INI profile, as start-up builds
// it, with a real worker on fake printing services: folders are the disk's,
// their files are the fake lister's, the printers a fake catalogue's, and a
// gate can hold a job while it is being sent. For the window tests.
#pragma once

#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "os/tick.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/hot_folder_thread.h"
#include "scheduling/recent_print_log.h"
#include "store/ini_profile.h"
#include "tests/engine/fakes.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/fake_printer_catalogue.h"
#include "ui/tallowin_dlg.h"

using namespace tallowin;

struct WindowRig {
    TempDir dir;
    MonotonicClock clock;
    FakeLister lister;
    FakeImageLoader images;
    RecordingSpooler spooler;
    RecordingRemover remover;
    FakeLedger ledger;
    RecentPrintLog log;
    EngineServices services{clock, lister, images, spooler, remover, ledger, log};
    PrintGate gate;
    HotFolderList list;
    HotFolderThread worker{services};
    FakePrinterCatalogue printers;
    std::unique_ptr<CTallowinDlg> dlg;

    // printerNames: the catalogue's printers, in enumeration order.
    WindowRig(const std::string& ini, std::vector<std::string> printerNames,
              const QString& applicationFolder = "/opt/tallowin",
              const QString& logFile = "/var/log/tallowin/print.log") {
        lister.realFolders = true;
        remover.lister = &lister;
        spooler.onPrint = [this](const std::string& docName) { gate.Pass(docName); };
        WriteFile(dir / "tallowin.ini", ini);
        IniProfile profile(dir / "tallowin.ini");
        list.Load(profile);
        worker.SetList(list);
        worker.Create();
        printers.names = std::move(printerNames);
        dlg =
            std::make_unique<CTallowinDlg>(list, worker, log, logFile, applicationFolder, printers);
    }
    ~WindowRig() {
        gate.Open();  // a job held by a test must not keep the worker from ending
        dlg.reset();
        worker.Quit();
        worker.Join();
    }
    QTreeWidget* Table() const { return dlg->findChild<QTreeWidget*>("hotFolderTable"); }
    // The folder id a row carries.
    int IdOf(int row) const { return Table()->topLevelItem(row)->data(0, Qt::UserRole).toInt(); }
    // Puts a file into a folder's listing, loadable as an image unless
    // `image` is false.
    void Drop(const std::string& folder, const std::string& name, bool image = true) {
        const ListedFile file = Listed(name, 10);
        if (image) {
            FakeImageLoader::Entry entry;
            entry.identity = file.Identity;
            images.Set(folder + "/" + name, entry);
        }
        lister.Put(folder, file);
    }
};
