#include "engine/hot_folder.h"

#include <optional>
#include <utility>

#include "engine/file_table.h"
#include "engine/page_fit.h"
#include "engine/paths.h"

HotFolder::HotFolder() = default;

HotFolder::HotFolder(std::string name, std::string folderPath, std::string printerName,
                     std::int32_t scanTime)
    : FolderPath(std::move(folderPath)),
      ScanTime(scanTime),
      Name(std::move(name)),
      PrinterName(std::move(printerName)) {}

HotFolder::HotFolder(const HotFolder& other)
    : FolderPath(other.FolderPath),
      ScanTime(other.ScanTime),
      Name(other.Name),
      PrinterName(other.PrinterName),
      Files(other.Files),
      LastScanTick(other.GetLastScanTick()),
      State(other.GetState()),
      Error(other.GetError()) {}

HotFolder& HotFolder::AssignWithoutFiles(const HotFolder& other) {
    if (this != &other) {
        FolderPath = other.FolderPath;
        ScanTime = other.ScanTime;
        Name = other.Name;
        PrinterName = other.PrinterName;
        Files.clear();
        LastScanTick.store(other.GetLastScanTick(), std::memory_order_relaxed);
        State.store(other.GetState(), std::memory_order_relaxed);
        Error.store(other.GetError(), std::memory_order_relaxed);
    }
    return *this;
}

HotFolder& HotFolder::operator=(const HotFolder& other) {
    if (this != &other) {
        AssignWithoutFiles(other);
        Files = other.Files;
    }
    return *this;
}

void HotFolder::Reset(Clock& clock) {
    LastScanTick.store(clock.Now(), std::memory_order_relaxed);
    Files.clear();
}

void HotFolder::SetRunning() {
    Error.store(HF_ERR_NONE, std::memory_order_relaxed);
    State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
}

void HotFolder::SetWaiting() {
    State.store(HF_STATE_WAITING, std::memory_order_relaxed);
}

void HotFolder::Scan(const EngineServices& services) {
    if (GetState() != HF_STATE_RUNNING) return;
    // The interval to the next scan counts from the start of this one, so
    // the time spent printing belongs to it.
    LastScanTick.store(services.clock.Now(), std::memory_order_relaxed);

    if (!services.lister.IsFolder(FolderPath)) {
        Error.store(HF_ERR_PATH, std::memory_order_relaxed);
        State.store(HF_STATE_ERROR, std::memory_order_relaxed);
        return;
    }
    const Listing listing = services.lister.List(FolderPath);
    Files = UpdateFileTable(Files, listing, [&](const std::string& name) {
        PrintFile(services, JoinPath(FolderPath, name));
    });
}

void HotFolder::PrintFile(const EngineServices& services, const std::string& path) {
    // Each stage's resources live in this scope, so one bad file releases
    // everything it took and never stops the files after it.
    const std::unique_ptr<Image> image = services.images.Load(path);
    if (!image) return;  // not an image, damaged, locked or gone: the file stays

    const std::unique_ptr<Printer> printer = services.spooler.Open(PrinterName);
    if (!printer) {
        // Nothing was printed, so the file stays; the user must see why.
        Error.store(HF_ERR_PRINTER, std::memory_order_relaxed);
        return;
    }
    const std::string docName = DocumentName(path);

    State.store(HF_STATE_RESIZING, std::memory_order_relaxed);
    const PageGeometry& page = printer->Geometry();
    const FitResult fit = FitToPage({image->Width(), image->Height(), image->XDpi(), image->YDpi(),
                                     page.Rx, page.Ry, page.Pw, page.Ph});
    // The pixels are decoded here; a file damaged past its header fails now,
    // before any job exists, and stays like a file that did not load.
    std::optional<PageImage> pixels;
    if (fit.Tw > 0 && fit.Th > 0) pixels = image->Render(fit.Tw, fit.Th);
    if (!pixels) {
        State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
        return;
    }

    State.store(HF_STATE_PRINTING, std::memory_order_relaxed);
    if (!printer->Print(docName, *pixels)) {
        Error.store(HF_ERR_PRINTER, std::memory_order_relaxed);
        State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
        return;
    }
    // Only the very file that was printed is deleted: one replaced under the
    // same name while it printed is a new file and must not be lost. A file
    // that cannot be deleted stays; it is not printed again while it stays.
    services.remover.RemoveIfSame(path, image->Identity());
    State.store(HF_STATE_RUNNING, std::memory_order_relaxed);
}
