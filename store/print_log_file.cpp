#include "store/print_log_file.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <string_view>
#include <utility>

#include "os/app_environment.h"
#include "util/escaping.h"
#include "util/paths.h"

namespace tallowin {

namespace {

void AppendField(std::string& line, std::string_view field) {
    line += '\t';
    AppendEscaped(line, field);
}

std::string_view OutcomeWord(PrintLogEntry::Outcome outcome) {
    switch (outcome) {
        case PrintLogEntry::Outcome::Sent:
            return "sent";
        case PrintLogEntry::Outcome::Printed:
            return "printed";
        case PrintLogEntry::Outcome::Kept:
            return "kept";
        case PrintLogEntry::Outcome::NotDeleted:
            return "not-deleted";
        case PrintLogEntry::Outcome::Interrupted:
            return "interrupted";
        case PrintLogEntry::Outcome::LedgerRecovered:
            return "ledger-recovered";
        case PrintLogEntry::Outcome::LedgerLost:
            return "ledger-lost";
        case PrintLogEntry::Outcome::FolderBack:
            return "folder-back";
        case PrintLogEntry::Outcome::PrinterAttention:
            return "printer-attention";
        case PrintLogEntry::Outcome::PrinterReady:
            return "printer-ready";
        case PrintLogEntry::Outcome::Notified:
            return "notified";
    }
    return "unknown";
}

// The syslog priority the journal files the line under.
std::string_view Priority(PrintLogEntry::Outcome outcome) {
    switch (outcome) {
        case PrintLogEntry::Outcome::Sent:
        case PrintLogEntry::Outcome::Printed:
        case PrintLogEntry::Outcome::FolderBack:
        case PrintLogEntry::Outcome::PrinterReady:
        case PrintLogEntry::Outcome::Notified:
            return "<6>";  // info
        case PrintLogEntry::Outcome::Kept:
        case PrintLogEntry::Outcome::Interrupted:
        case PrintLogEntry::Outcome::PrinterAttention:
        case PrintLogEntry::Outcome::LedgerRecovered:
            return "<4>";  // warning
        case PrintLogEntry::Outcome::NotDeleted:
        case PrintLogEntry::Outcome::LedgerLost:
            return "<3>";  // error
    }
    return "<4>";
}

// 2026-12-07T13:04:05.120+01:00
std::string LocalTime(std::chrono::system_clock::time_point time) {
    const auto whole = std::chrono::floor<std::chrono::seconds>(time);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(whole);
    const int millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(time - whole).count());
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return "0000-00-00T00:00:00.000+00:00";
    char date[32];
    char offset[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::strftime(offset, sizeof offset, "%z", &local);  // +0100
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03d%.3s:%.2s", date, millis, offset, offset + 3);
    return out;
}

std::shared_ptr<spdlog::logger> MakeLogger(const char* name, spdlog::sink_ptr sink) {
    auto logger = std::make_shared<spdlog::logger>(name, std::move(sink));
    logger->set_pattern("%v");
    logger->set_level(spdlog::level::info);
    logger->flush_on(spdlog::level::info);
    return logger;
}

}  // namespace

std::string FormatPrintLogLine(const PrintLogEntry& entry) {
    std::string line = LocalTime(entry.Time);
    AppendField(line, entry.HotFolder);
    AppendField(line, entry.File);
    AppendField(line, entry.Printer);
    AppendField(line, std::to_string(entry.JobId));
    AppendField(line, std::to_string(entry.Width) + "x" + std::to_string(entry.Height));
    AppendField(line, OutcomeWord(entry.Result));
    AppendField(line, std::to_string(static_cast<int>(entry.Code)));
    AppendField(line, entry.Reason);
    return line;
}

SpdlogPrintLog::SpdlogPrintLog(std::string path) : SpdlogPrintLog(std::move(path), Options{}) {}

SpdlogPrintLog::SpdlogPrintLog(std::string path, const Options& options) : path_(std::move(path)) {
    try {
        if (options.Console != nullptr) {
            console_ = MakeLogger(
                "tallowin-console",
                std::make_shared<spdlog::sinks::ostream_sink_mt>(*options.Console, true));
        }
        if (const Status folder = MakePrivateFolder(FolderOf(path_)); !folder.Ok()) {
            status_ = folder;
            return;
        }
        file_ =
            MakeLogger("tallowin-print-log", std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
                                                 path_, options.MaxBytes, options.MaxFiles));
    } catch (const std::exception& e) {
        file_.reset();
        status_ =
            Status::Failure(HF_ERR_STATE, "cannot open the print log " + path_ + ": " + e.what());
    }
}

SpdlogPrintLog::~SpdlogPrintLog() = default;

void SpdlogPrintLog::Record(const PrintLogEntry& entry) {
    Write(entry, true);
}

void SpdlogPrintLog::RecordInFileOnly(const PrintLogEntry& entry) {
    Write(entry, false);
}

void SpdlogPrintLog::Write(const PrintLogEntry& entry, bool console) {
    try {
        const std::string line = FormatPrintLogLine(entry);
        if (file_) file_->info(line);
        if (console && console_) console_->info(std::string(Priority(entry.Result)) + line);
    } catch (...) {
        // A log that cannot be written must not stop a print job.
    }
}

}  // namespace tallowin
