// The print log: every attempt, its outcome and its reason.
#pragma once

#include <chrono>
#include <string>

#include "engine/hot_folder_types.h"

namespace tallowin {

// One line of the print log: every attempt, its outcome and its reason;
// and, at start, what a damaged job ledger gave back (File is the ledger).
struct PrintLogEntry {
    enum class Outcome {
        Sent,              // the job is with the scheduler; the file waits for it
        Printed,           // the job completed and the file was deleted
        Kept,              // not printed: the file stays (Code and Reason say why)
        NotDeleted,        // printed, but the file stays
        Interrupted,       // a stop ended the attempt; the file stays, nothing printed
        LedgerRecovered,   // the job ledger was damaged; its last good state was read
        LedgerLost,        // the job ledger was damaged; jobs in flight may be unknown
        FolderBack,        // the hot folder's folder, missing or another's, is watched again
                           // (File is the folder); its going is a Kept entry with the folder's code
        PrinterAttention,  // the printer cannot print now (Reason: its words); the files wait
        PrinterReady,      // ... and prints again; each is logged once, when it happens
        Notified,          // the notify command ran for an event (Reason: the event and how
                           // the command ended; File and Printer: the event's)
    };
    std::chrono::system_clock::time_point Time;
    std::string HotFolder;  // the hot folder's name
    std::string File;       // the full path
    std::string Printer;
    int JobId = 0;              // 0 when no job was created
    int Width = 0, Height = 0;  // size on paper in printer pixels; 0 when not fitted
    Outcome Result = Outcome::Kept;
    HotFolderError Code = HF_ERR_NONE;
    std::string Reason;
};

// Takes every entry; thread-safe, never throws, never blocks for long.
class PrintLog {
  public:
    virtual ~PrintLog() = default;
    virtual void Record(const PrintLogEntry& entry) = 0;
};

}  // namespace tallowin
