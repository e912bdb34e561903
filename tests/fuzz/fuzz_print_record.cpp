// The record of what `tallowin print` has sent, read from any bytes: the
// lines it cannot read are dropped, and every entry it did read (printed,
// or sent with its job) survives the rewrite that the next change makes,
// together with the entry that change adds.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "store/print_record.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tallowin;

namespace {

struct Candidate {
    std::string Printer;
    FileIdentity File;
};

// The entries a line might hold, read the way the record documents its
// lines; whether the record took them is asked of the record itself.
std::vector<Candidate> Candidates(const std::string& text) {
    std::vector<Candidate> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        Candidate c;
        if (line.starts_with("sent ")) {
            std::string word;
            fields >> word >> word >> word >> word;  // "sent", id, uuid, creation time
        }
        if (!(fields >> c.File.Device >> c.File.Inode >> c.File.Size >> c.File.ModifiedNs))
            continue;
        fields.get();
        std::getline(fields, c.Printer);
        out.push_back(std::move(c));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch("printed");
    const std::string text(reinterpret_cast<const char*>(data), size);
    scratch.Write(data, size);

    // More entries than an input of the fuzzer's length can hold, so that
    // none is dropped for its age.
    PrintRecord record(scratch.File(), PrintRecord::kMaxEntries);
    const FileIdentity added{1, 2, 3, 4};
    std::vector<std::pair<Candidate, PrintRecord::Mark>> held;
    for (Candidate& c : Candidates(text)) {
        if (c.Printer == "fuzz printer" && c.File == added) continue;  // replaced below
        if (const auto mark = record.Find(c.Printer, c.File))
            held.emplace_back(std::move(c), *mark);
    }
    fuzz::Check(record.MarkSent("fuzz printer", added, JobTicket{7, "urn:uuid:f", 9}),
                "the record is stored");

    const PrintRecord again(scratch.File(), PrintRecord::kMaxEntries);
    const auto back = again.Find("fuzz printer", added);
    fuzz::Check(back && back->JobId == 7 && back->JobUuid == "urn:uuid:f" && back->CreatedAt == 9,
                "the entry added is read back");
    for (const auto& [c, mark] : held) {
        const auto found = again.Find(c.Printer, c.File);
        fuzz::Check(found && found->State == mark.State && found->JobId == mark.JobId &&
                        found->JobUuid == mark.JobUuid && found->CreatedAt == mark.CreatedAt,
                    "every entry read is read back as it was", c.Printer);
    }
    return 0;
}
