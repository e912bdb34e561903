// The print log: one line per attempt, in a size-capped rotating file and,
// optionally, on standard error for the journal.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

#include "engine/ports/services.h"

namespace spdlog {
class logger;
}

namespace tallowin {

// Each entry becomes one line of tab-separated fields, in this order:
//
//   time       ISO-8601 local time with milliseconds and offset,
//              2026-12-07T13:04:05.120+01:00
//   folder     the hot folder's name
//   file       the file's full path (the folder's, for an entry about the
//              folder itself: kept with its code when it cannot be watched,
//              folder-back when it is watched again)
//   printer    the printer's name
//   job        the scheduler's job id, 0 when no job was created
//   size       the size on paper in printer pixels, WxH (0x0 when not fitted)
//   outcome    sent, printed, kept, not-deleted, interrupted, folder-back,
//              printer-attention (the printer cannot print; the reason has
//              its words) or printer-ready (it prints again), each once when
//              it happens, or notified (the notify command ran: the reason
//              tells the event and how the command ended); at start,
//              ledger-recovered or ledger-lost for a damaged job ledger
//              (file is then the ledger's path)
//   code       the HotFolderError number, 0 when none
//   reason     the library's words, empty when none
//
// A backslash, tab, newline or carriage return inside a field is written as
// \\, \t, \n or \r, so that every entry stays one line.
//
// The file rotates through spdlog's rotating file sink: once it would grow
// past MaxBytes it becomes print.1.log (print.1.log becomes print.2.log,
// ...; spdlog's naming) and the oldest of MaxFiles is dropped, so the log never takes more than
// about MaxBytes * (MaxFiles + 1). Each entry is flushed before Record returns.
//
// On the console stream (standard error, where systemd's journal picks it
// up) each line starts with its syslog priority: "<6>" for sent, printed,
// folder-back, printer-ready and notified, "<4>" for kept, interrupted,
// printer-attention and ledger-recovered, "<3>" for not-deleted and
// ledger-lost.
//
// Never throws. When the file cannot be opened (OpenStatus() says why) entries
// still go to the console. Thread-safe: spdlog's sinks hold their own mutex.
class SpdlogPrintLog final : public PrintLog {
  public:
    struct Options {
        std::size_t MaxBytes = 1024 * 1024;
        std::size_t MaxFiles = 5;
        std::ostream* Console = nullptr;  // e.g. &std::cerr; null: the file only
    };

    // path: the log file ($XDG_STATE_HOME/tallowin/print.log); its folder is
    // made, private to the user (0700), when missing.
    explicit SpdlogPrintLog(std::string path);
    SpdlogPrintLog(std::string path, const Options& options);
    ~SpdlogPrintLog() override;

    const std::string& Path() const { return path_; }
    // Whether the file could be opened: HF_ERR_STATE with the reason when not.
    const Status& OpenStatus() const { return status_; }

    void Record(const PrintLogEntry& entry) override;
    // Record, to the file alone: for what the caller already says on the
    // console in its own words.
    void RecordInFileOnly(const PrintLogEntry& entry);

  private:
    void Write(const PrintLogEntry& entry, bool console);

    std::string path_;
    Status status_;
    std::shared_ptr<spdlog::logger> file_;     // null when the file cannot be opened
    std::shared_ptr<spdlog::logger> console_;  // null without a console stream
};

// The line for entry as described above, without the newline.
std::string FormatPrintLogLine(const PrintLogEntry& entry);

}  // namespace tallowin
