#include "app/print_record.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/atomic_file.h"

namespace tallowin {

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    const passwd* pw = getpwuid(getuid());
    return pw != nullptr ? pw->pw_dir : "/";
}

}  // namespace

std::string PrintRecordPath() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    const std::string base =
        xdg != nullptr && xdg[0] == '/' ? std::string(xdg) : HomeFolder() + "/.local/state";
    return base + "/tallowin/printed";
}

PrintRecord::PrintRecord(std::string path, std::size_t maxEntries)
    : path_(std::move(path)), maxEntries_(maxEntries) {
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
        // "device inode size mtime-ns printer"; the printer is the rest of
        // the line, whatever it holds.
        std::istringstream fields(line);
        Entry e;
        if (!(fields >> e.File.Device >> e.File.Inode >> e.File.Size >> e.File.ModifiedNs))
            continue;
        fields.get();  // the one space before the printer
        std::getline(fields, e.Printer);
        if (e.Printer.empty()) continue;
        entries_.push_back(std::move(e));
    }
    while (entries_.size() > maxEntries_) entries_.pop_front();
}

bool PrintRecord::Contains(const std::string& printer, const FileIdentity& file) const {
    for (const Entry& e : entries_) {
        if (e.File == file && e.Printer == printer) return true;
    }
    return false;
}

bool PrintRecord::Add(const std::string& printer, const FileIdentity& file) {
    entries_.push_back({printer, file});
    while (entries_.size() > maxEntries_) entries_.pop_front();
    std::string bytes;
    for (const Entry& e : entries_) {
        bytes += std::to_string(e.File.Device) + ' ' + std::to_string(e.File.Inode) + ' ' +
                 std::to_string(e.File.Size) + ' ' + std::to_string(e.File.ModifiedNs) + ' ' +
                 e.Printer + '\n';
    }
    return ReplaceFileAtomically(path_, bytes).Ok;
}

}  // namespace tallowin
