// HotFolder: one watched folder — the four settings the user enters, the
// run state and error the main window shows, the tick of the last scan and
// the file table through which two scans in a row recognise a file that has
// finished arriving.
//
// A plain value: copies carry every field, the file table included. Not
// thread-safe as a whole; the hot folder list guards the records it holds.
// State, Error and LastScanTick are single 32-bit words that the worker
// writes while the user interface copies the record, so they are atomics
// (relaxed: nothing else is published through them).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/hot_folder_types.h"
#include "engine/platform_services.h"

class HotFolder {
  public:
    // "NewHotFolder", no path, no printer, 20 seconds, waiting, no error.
    HotFolder();
    HotFolder(std::string name, std::string folderPath, std::string printerName,
              std::int32_t scanTime);
    HotFolder(const HotFolder& other);
    HotFolder& operator=(const HotFolder& other);
    virtual ~HotFolder() = default;

    // Copies every field but the file table, which becomes empty. For
    // callers that only show or store a folder: it never reads the table
    // that a scan on another thread may be replacing. Returns *this.
    HotFolder& AssignWithoutFiles(const HotFolder& other);

    std::string GetName() const { return Name; }
    std::string GetFolderPath() const { return FolderPath; }
    std::string GetPrinterName() const { return PrinterName; }
    std::int32_t GetScanTime() const { return ScanTime; }
    std::int32_t GetState() const { return State.load(std::memory_order_relaxed); }
    std::int32_t GetError() const { return Error.load(std::memory_order_relaxed); }
    std::uint32_t GetLastScanTick() const { return LastScanTick.load(std::memory_order_relaxed); }
    const FileTable& GetFiles() const { return Files; }

    // Each replaces one setting and touches nothing else; nothing is checked.
    void SetName(std::string name) { Name = std::move(name); }
    void SetFolderPath(std::string path) { FolderPath = std::move(path); }
    void SetPrinterName(std::string printer) { PrinterName = std::move(printer); }
    void SetScanTime(std::int32_t seconds) { ScanTime = seconds; }

    // Service start: stamps the current tick and forgets the file table;
    // state and error are left as they are.
    void Reset(Clock& clock);
    // Any state to running, error cleared.
    void SetRunning();
    // Any state to waiting; the error stays visible.
    void SetWaiting();

    // One scan of the folder: does nothing unless running. Lists the plain
    // files, hands each one that two scans in a row saw with the same size
    // to PrintFile (in byte order of the names, one after another) and
    // replaces the file table with this listing. A folder path that is not a
    // folder puts the record in HF_STATE_ERROR with HF_ERR_PATH.
    void Scan(const EngineServices& services);

    // Loads, fits, prints and deletes one image file (the full path). A file
    // that cannot be loaded stays, and so does one whose printer failed; the
    // latter sets HF_ERR_PRINTER. The state is HF_STATE_RUNNING afterwards.
    void PrintFile(const EngineServices& services, const std::string& path);

  private:
    std::string FolderPath;
    std::int32_t ScanTime = 20;
    std::string Name = "NewHotFolder";
    std::string PrinterName;
    FileTable Files;
    std::atomic<std::uint32_t> LastScanTick{0};
    std::atomic<std::int32_t> State{HF_STATE_WAITING};
    std::atomic<std::int32_t> Error{HF_ERR_NONE};
};
