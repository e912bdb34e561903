// The job ledger's reader on any bytes: the parse, its round trip through
// the writer, and the file ledger's rule that a file it cannot read is
// moved aside whole, never emptied.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/job_ledger_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tallowin;

namespace {

bool SameRecord(const JobRecord& a, const JobRecord& b) {
    return a.FolderPath == b.FolderPath && a.FileName == b.FileName && a.Identity == b.Identity &&
           a.PrinterName == b.PrinterName && a.JobId == b.JobId && a.State == b.State;
}

bool SameRecords(const std::vector<JobRecord>& a, const std::vector<JobRecord>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!SameRecord(a[i], b[i])) return false;
    }
    return true;
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch("jobs.tsv");
    const std::string text(reinterpret_cast<const char*>(data), size);

    const auto parsed = ParseJobLedger(text);
    if (parsed) {
        // Whatever parses is written in a form that parses back to the same
        // records, and that form is the writer's fixed point.
        const std::string written = FormatJobLedger(*parsed);
        const auto again = ParseJobLedger(written);
        fuzz::Check(again.has_value(), "a written ledger parses", written);
        fuzz::Check(SameRecords(*parsed, *again), "a written ledger parses to the same records",
                    written);
        fuzz::Check(FormatJobLedger(*again) == written, "the writer's form is stable", written);
    }

    scratch.Write(data, size);
    const FileJobLedger ledger(scratch.File());
    if (parsed) {
        fuzz::Check(ledger.LoadStatus().Ok(), "a ledger that parses loads",
                    ledger.LoadStatus().Reason);
        // The last record of a folder and file is the one kept.
        for (const JobRecord& r : *parsed) {
            const auto found = ledger.Find(r.FolderPath, r.FileName);
            fuzz::Check(found.has_value(), "every parsed record is found");
        }
        if (!parsed->empty()) {
            const JobRecord& last = parsed->back();
            const auto found = ledger.Find(last.FolderPath, last.FileName);
            fuzz::Check(found && SameRecord(*found, last), "the last record of a file wins");
        }
        fuzz::Check(Contents(scratch.File()) == text, "loading leaves the file as it was");
    } else {
        fuzz::Check(!ledger.LoadStatus().Ok(), "a ledger that does not parse is reported");
        fuzz::Check(!Exists(scratch.File()), "an unreadable ledger is moved aside");
        fuzz::Check(Contents(scratch.File() + ".bad") == text,
                    "the ledger moved aside keeps every byte");
    }
    return 0;
}
