// A main window over a list loaded from an INI profile, as start-up builds
// it, with a real worker on fake printing services. For the window tests.
#pragma once

#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "platform/folder_listing.h"
#include "platform/ini_profile.h"
#include "platform/tick.h"
#include "scheduling/hot_folder_list.h"
#include "scheduling/hot_folder_thread.h"
#include "tests/engine/fakes.h"
#include "tests/support/temp_dir.h"
#include "ui/tallowin_dlg.h"

struct WindowRig {
    TempDir dir;
    MonotonicClock clock;
    PosixFolderLister lister;
    FakeImageLoader images;
    RecordingSpooler spooler;
    RecordingRemover remover;
    EngineServices services{clock, lister, images, spooler, remover};
    HotFolderList list;
    HotFolderThread worker{services};
    std::unique_ptr<CTallowinDlg> dlg;

    WindowRig(const std::string& ini, std::vector<std::string> printers,
              const QString& applicationFolder = "/opt/tallowin") {
        WriteFile(dir / "tallowin.ini", ini);
        IniProfile profile(dir / "tallowin.ini");
        list.Load(profile);
        worker.SetList(list);
        worker.Create();
        dlg = std::make_unique<CTallowinDlg>(list, worker, applicationFolder, std::move(printers));
    }
    ~WindowRig() {
        dlg.reset();
        worker.Quit();
        worker.Join();
    }
    QTreeWidget* Table() const { return dlg->findChild<QTreeWidget*>("hotFolderTable"); }
    // The folder id a row carries.
    int IdOf(int row) const { return Table()->topLevelItem(row)->data(0, Qt::UserRole).toInt(); }
};
