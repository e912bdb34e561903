#include "store/print_record.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "os/app_environment.h"
#include "store/atomic_file.h"
#include "util/paths.h"

namespace tallowin {

namespace {

// A printed file is "device inode size mtime-ns printer", as the first
// versions wrote every entry, so that they still read the printed ones; a
// sent one is "sent job-id job-uuid created " and the same (the uuid "-"
// when not known), which they drop. The printer is the rest of the line,
// whatever it holds.
constexpr char kSent[] = "sent ";

}  // namespace

std::string PrintRecordPath() {
    return StateDirectory() + "/printed";
}

PrintRecord::PrintRecord(std::string path, std::size_t maxEntries)
    : path_(std::move(path)), maxEntries_(maxEntries) {
    std::ifstream in(path_);
    if (!in) {
        const int error = errno;
        struct stat st {};
        if (stat(path_.c_str(), &st) == 0 || errno != ENOENT) {
            readError_ = std::strerror(error != 0 ? error : EIO);
        }
        return;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Entry e;
        if (line.starts_with(kSent)) {
            fields.ignore(sizeof kSent - 1);
            if (!(fields >> e.State.JobId >> e.State.JobUuid >> e.State.CreatedAt) ||
                e.State.JobId <= 0) {
                continue;
            }
            if (e.State.JobUuid == "-") e.State.JobUuid.clear();
            e.State.State = Mark::Stage::Sent;
        }
        if (!(fields >> e.File.Device >> e.File.Inode >> e.File.Size >> e.File.ModifiedNs))
            continue;
        fields.get();  // the one space before the printer
        std::getline(fields, e.Printer);
        if (e.Printer.empty()) continue;
        entries_.push_back(std::move(e));
    }
    if (in.bad()) {
        // Part of it unread: what was read still counts, but writing would
        // lose the rest.
        readError_ = "read error";
    }
    while (entries_.size() > maxEntries_) entries_.pop_front();
}

std::optional<PrintRecord::Mark> PrintRecord::Find(const std::string& printer,
                                                   const FileIdentity& file) const {
    for (const Entry& e : entries_) {
        if (e.File == file && e.Printer == printer) return e.State;
    }
    return std::nullopt;
}

bool PrintRecord::MarkSent(const std::string& printer, const FileIdentity& file,
                           const JobTicket& job) {
    return Put(Entry{printer, file, {Mark::Stage::Sent, job.Id, job.Uuid, job.CreatedAt}}, printer,
               file);
}

bool PrintRecord::MarkPrinted(const std::string& printer, const FileIdentity& file) {
    return Put(Entry{printer, file, {Mark::Stage::Printed, 0, {}, 0}}, printer, file);
}

bool PrintRecord::Forget(const std::string& printer, const FileIdentity& file) {
    return Put(std::nullopt, printer, file);
}

bool PrintRecord::Put(std::optional<Entry> entry, const std::string& printer,
                      const FileIdentity& file) {
    std::erase_if(entries_, [&](const Entry& e) { return e.File == file && e.Printer == printer; });
    if (entry) entries_.push_back(std::move(*entry));
    while (entries_.size() > maxEntries_) entries_.pop_front();
    return Store();
}

bool PrintRecord::Store() const {
    if (!readError_.empty()) return false;
    std::string bytes;
    for (const Entry& e : entries_) {
        if (e.State.State == Mark::Stage::Sent) {
            // A uuid holds no space; one that did would be unreadable.
            const std::string& uuid = e.State.JobUuid;
            const bool plain = !uuid.empty() && uuid.find_first_of(" \t\n") == std::string::npos;
            bytes += kSent + std::to_string(e.State.JobId) + ' ' + (plain ? uuid : "-") + ' ' +
                     std::to_string(e.State.CreatedAt) + ' ';
        }
        bytes += std::to_string(e.File.Device) + ' ' + std::to_string(e.File.Inode) + ' ' +
                 std::to_string(e.File.Size) + ' ' + std::to_string(e.File.ModifiedNs) + ' ' +
                 e.Printer + '\n';
    }
    // Private like the rest of the state, should this be the first file.
    if (!MakePrivateFolder(FolderOf(path_)).Ok()) return false;
    return ReplaceFileAtomically(path_, bytes).Ok;
}

}  // namespace tallowin
