// One scan of one folder, as the worker does it: list the regular files and
// build the file table. Prints the number of files found.
//   tallowin-scan-once FOLDER
#include <cstdio>

#include "engine/hot_folder.h"
#include "platform/folder_listing.h"
#include "platform/tick.h"

namespace {

// Nothing is printed by a first scan; these are never called.
class NoImages final : public ImageLoader {
  public:
    std::unique_ptr<Image> Load(const std::string&) override { return nullptr; }
};
class NoSpooler final : public Spooler {
  public:
    std::unique_ptr<Printer> Open(const std::string&) override { return nullptr; }
};
class NoRemover final : public FileRemover {
  public:
    bool RemoveIfSame(const std::string&, const FileIdentity&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    MonotonicClock clock;
    PosixFolderLister lister;
    NoImages images;
    NoSpooler spooler;
    NoRemover remover;
    EngineServices services{clock, lister, images, spooler, remover};
    HotFolder folder("bench", argv[1], "none", 5);
    folder.Reset(clock);
    folder.SetRunning();
    folder.Scan(services);
    if (folder.GetState() != HF_STATE_RUNNING) {
        std::fprintf(stderr, "not a folder: %s\n", argv[1]);
        return 1;
    }
    std::printf("%zu\n", folder.GetFiles().size());
    return 0;
}
