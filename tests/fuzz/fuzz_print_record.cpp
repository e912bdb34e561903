// The record of what `tallowin print` has sent, read from any bytes: the
// lines it cannot read are dropped, and every entry it did read survives
// the rewrite that the next Add makes, together with the entry added.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/print_record.h"
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
    std::vector<Candidate> held;
    for (Candidate& c : Candidates(text)) {
        if (record.Contains(c.Printer, c.File)) held.push_back(std::move(c));
    }
    const FileIdentity added{1, 2, 3, 4};
    fuzz::Check(record.Add("fuzz printer", added), "the record is stored");

    const PrintRecord again(scratch.File(), PrintRecord::kMaxEntries);
    fuzz::Check(again.Contains("fuzz printer", added), "the entry added is read back");
    for (const Candidate& c : held) {
        fuzz::Check(again.Contains(c.Printer, c.File), "every entry read is read back", c.Printer);
    }
    return 0;
}
