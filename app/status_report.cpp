#include "app/status_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "os/instance_lock.h"
#include "os/status_socket.h"

namespace tallowin {

namespace {

using Json = nlohmann::json;

// How long `tallowin status` waits for the instance's answer.
constexpr std::chrono::milliseconds kReplyTimeout{5000};

std::string Uptime(std::int64_t seconds) {
    char text[64];
    const long long s = std::max<std::int64_t>(0, seconds);
    if (s >= 86400) {
        std::snprintf(text, sizeof text, "%lld d %02lld:%02lld:%02lld", s / 86400, s % 86400 / 3600,
                      s % 3600 / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s % 3600 / 60, s % 60);
    }
    return text;
}

std::string Table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> width;
    for (const auto& row : rows) {
        width.resize(std::max(width.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
        }
        text += line + "\n";
    }
    return text;
}

}  // namespace

FolderReport ReportFolder(const HotFolder& folder, const FolderTexts& texts) {
    FolderReport r;
    r.Name = folder.GetName();
    r.StateCode = folder.GetState();
    r.ErrorCode = folder.GetError();
    r.State = texts.State ? texts.State(r.StateCode) : std::to_string(r.StateCode);
    r.Error = texts.Error ? texts.Error(r.ErrorCode, folder.GetPrinterTrouble())
                          : std::to_string(r.ErrorCode);
    r.Printer = folder.GetPrinterName();
    r.FilesWaiting = folder.GetFilesWaiting();
    r.JobsInFlight = folder.GetJobsInFlight();
    return r;
}

std::string StatusJson(const InstanceReport& report) {
    Json folders = Json::array();
    for (const FolderReport& f : report.Folders) {
        folders.push_back({{"name", f.Name},
                           {"state", f.State},
                           {"printer", f.Printer},
                           {"error", f.Error},
                           {"state_code", f.StateCode},
                           {"error_code", f.ErrorCode},
                           {"files_waiting", f.FilesWaiting},
                           {"jobs_in_flight", f.JobsInFlight}});
    }
    const Json json = {
        {"running", true},     {"pid", report.Pid},         {"uptime", report.UptimeSeconds},
        {"mode", report.Mode}, {"profile", report.Profile}, {"started", report.Started},
        {"folders", folders}};
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

Result<InstanceReport> ParseStatusJson(const std::string& text) {
    Result<InstanceReport> result;
    const Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        result.Error = Status::Failure(HF_ERR_STATE, "the answer is not a JSON object");
        return result;
    }
    try {
        InstanceReport& r = result.Value;
        r.Pid = json.at("pid").get<std::int64_t>();
        r.UptimeSeconds = json.at("uptime").get<std::int64_t>();
        r.Mode = json.value("mode", "");
        r.Profile = json.value("profile", "");
        r.Started = json.value("started", false);
        for (const Json& f : json.at("folders")) {
            r.Folders.push_back({f.at("name").get<std::string>(), f.at("state").get<std::string>(),
                                 f.at("printer").get<std::string>(),
                                 f.at("error").get<std::string>(), f.value("state_code", 0),
                                 f.value("error_code", 0), f.value("files_waiting", 0),
                                 f.value("jobs_in_flight", 0)});
        }
    } catch (const Json::exception& e) {
        result.Value = {};
        result.Error = Status::Failure(HF_ERR_STATE, e.what());
    }
    return result;
}

std::string StatusText(const InstanceReport& report) {
    std::string text = "Tallowin is running: process " + std::to_string(report.Pid) + ", up " +
                       Uptime(report.UptimeSeconds) + ", " +
                       (report.Mode.empty() ? std::string("?") : report.Mode) +
                       (report.Started ? "" : ", stopped") + "\nProfile: " + report.Profile + "\n";
    if (report.Folders.empty()) return text + "No hot folders.\n";
    std::vector<std::vector<std::string>> rows{
        {"FOLDER", "STATE", "PRINTER", "WAITING", "IN FLIGHT", "ERROR"}};
    for (const FolderReport& f : report.Folders) {
        rows.push_back({f.Name, f.State, f.Printer, std::to_string(f.FilesWaiting),
                        std::to_string(f.JobsInFlight), f.Error});
    }
    return text + "\n" + Table(rows);
}

std::string AnswerStatusRequest(const std::string& request,
                                const std::function<InstanceReport()>& make) {
    if (request == "status") return StatusJson(make());
    const Json json = {{"error", "unknown request"}};
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

int RunStatusCommand(const std::string& profilePath, bool json, std::ostream& out,
                     std::ostream& err) {
    const std::string socket = StatusSocketPathFor(LockPathFor(profilePath));
    const StatusReply reply =
        socket.empty() ? StatusReply{} : QueryStatusSocket(socket, "status", kReplyTimeout);
    switch (reply.How) {
        case StatusReply::Outcome::NotRunning:
            if (json) {
                out << Json{{"running", false}, {"profile", profilePath}}.dump(
                           -1, ' ', false, Json::error_handler_t::replace)
                    << "\n";
            } else {
                out << "not running (profile " << profilePath << ")\n";
            }
            return kStatusNotRunning;
        case StatusReply::Outcome::Failed:
            err << "tallowin: the running instance gave no answer: " << reply.Error << "\n";
            return kStatusFailed;
        case StatusReply::Outcome::Answered:
            break;
    }
    const Result<InstanceReport> report = ParseStatusJson(reply.Text);
    if (!report.Ok()) {
        err << "tallowin: the running instance's answer cannot be read: " << report.Error.Reason
            << "\n";
        return kStatusFailed;
    }
    out << (json ? reply.Text : StatusText(report.Value));
    return kStatusRunning;
}

}  // namespace tallowin
