// The job ledger's reader on any bytes: the parse, its round trip through
// the writer and through the file's two checksummed copies, and the file
// ledger's rule that a file it cannot read is moved aside whole, never
// emptied.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "store/job_ledger_file.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tallowin;

namespace {

bool SameRecord(const JobRecord& a, const JobRecord& b) {
    return a.FolderPath == b.FolderPath && a.FileName == b.FileName && a.Identity == b.Identity &&
           a.PrinterName == b.PrinterName && a.JobId == b.JobId && a.State == b.State &&
           a.JobUuid == b.JobUuid && a.CreatedAt == b.CreatedAt && a.RecordedAt == b.RecordedAt;
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
    {
        const FileJobLedger ledger(scratch.File());
        if (ledger.LoadStatus().Ok()) {
            fuzz::Check(Contents(scratch.File()) == text,
                        "loading leaves a readable file as it was");
        } else {
            fuzz::Check(!Exists(scratch.File()), "an unreadable ledger is moved aside");
            fuzz::Check(Contents(scratch.File() + ".bad") == text,
                        "the ledger moved aside keeps every byte");
        }
        // The version before wrote no end line: what it wrote is read.
        if (parsed && text.starts_with("tallowin-jobs\t1\n")) {
            fuzz::Check(ledger.LoadStatus().Ok(), "a first version's ledger that parses loads",
                        ledger.LoadStatus().Reason);
        }
    }
    if (!parsed) return 0;

    // Every record that parses is stored and read back, the last of a
    // folder and file winning.
    scratch.Clear();
    {
        FileJobLedger fresh(scratch.File());
        for (const JobRecord& r : *parsed) {
            fuzz::Check(fresh.Put(r).Ok(), "a parsed record is stored", fresh.LoadStatus().Reason);
        }
    }
    const FileJobLedger back(scratch.File());
    fuzz::Check(back.LoadStatus().Ok(), "a stored ledger loads", back.LoadStatus().Reason);
    for (const JobRecord& r : *parsed) {
        fuzz::Check(back.Find(r.FolderPath, r.FileName).has_value(),
                    "every stored record is found");
    }
    if (!parsed->empty()) {
        const JobRecord& last = parsed->back();
        const auto found = back.Find(last.FolderPath, last.FileName);
        fuzz::Check(found && SameRecord(*found, last), "the last record of a file wins");
    }
    return 0;
}
