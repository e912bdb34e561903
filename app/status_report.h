// `tallowin status`: what a running instance says of itself and its hot
// folders, as JSON on the status socket, and as text or JSON for people and
// scripts on the asking side.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/hot_folder.h"
#include "engine/status.h"

namespace tallowin {

struct FolderReport {
    std::string Name;
    std::string State;  // as the window's row says it: "Running", "Error", ...
    std::string Printer;
    std::string Error;  // as the row says it: "No errors", "Printer needs attention: ..."
    std::int32_t StateCode = 0;
    std::int32_t ErrorCode = 0;
    std::int64_t FilesWaiting = 0;  // in the folder, not printed yet
    std::int64_t JobsInFlight = 0;  // sent, the file waiting for the job's end

    bool operator==(const FolderReport&) const = default;
};

struct InstanceReport {
    std::int64_t Pid = 0;
    std::int64_t UptimeSeconds = 0;
    std::string Mode;      // "window" or "service"
    std::string Profile;   // the profile's path
    bool Started = false;  // the hot folders are being watched (not stopped)
    std::vector<FolderReport> Folders;

    bool operator==(const InstanceReport&) const = default;
};

// The words of a folder's state and error as the window's row says them;
// the composition root hands in the string table's (ui/hot_folder_texts.h),
// so that the report and the window never word a state two ways. Both must
// be callable from any thread.
struct FolderTexts {
    std::function<std::string(std::int32_t state)> State;
    std::function<std::string(std::int32_t error, const std::string& printerTrouble)> Error;
};

// One folder's line of the report, from a copy of the record.
FolderReport ReportFolder(const HotFolder& folder, const FolderTexts& texts);

// The report as one JSON object:
//   {"pid": 1234, "uptime": 42, "mode": "service", "profile": "...",
//    "running": true, "started": true,
//    "folders": [{"name": ..., "state": ..., "printer": ..., "error": ...,
//                 "state_code": 2, "error_code": 0, "files_waiting": 1,
//                 "jobs_in_flight": 0}, ...]}
// Text that is not valid UTF-8 (a folder name's raw bytes) is written with
// U+FFFD in place of what cannot be read.
std::string StatusJson(const InstanceReport& report);
// The report back from StatusJson's text; fails (HF_ERR_STATE, the
// parser's words) on anything else.
Result<InstanceReport> ParseStatusJson(const std::string& text);
// For people: the process and its uptime, then a table of the folders.
std::string StatusText(const InstanceReport& report);

// What the status socket answers: StatusJson(make()) for the request
// "status", a JSON object with an "error" for any other.
std::string AnswerStatusRequest(const std::string& request,
                                const std::function<InstanceReport()>& make);

// Exit statuses of `tallowin status`.
inline constexpr int kStatusRunning = 0;
inline constexpr int kStatusFailed = 1;  // an instance listens but gave no readable answer
inline constexpr int kStatusNotRunning = 3;

// Asks the instance that holds profilePath's lock and prints its report to
// out (text, or JSON with json); "not running" (or {"running": false, ...})
// when none answers. Failures go to err.
int RunStatusCommand(const std::string& profilePath, bool json, std::ostream& out,
                     std::ostream& err);

}  // namespace tallowin
