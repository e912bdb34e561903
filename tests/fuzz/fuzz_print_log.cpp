// The print log's line on any entry. Nothing in the program reads the log
// back, but people and their tools do (grep, cut, the journal): every
// entry, whatever bytes a file name or a library's words hold, must stay
// one line of nine tab-separated fields that give back exactly what was
// recorded. The reader here is the one such a tool would write.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/print_log_file.h"
#include "tests/fuzz/fuzz_support.h"
#include "util/escaping.h"

using namespace tallowin;

namespace {

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

// 2026-12-07T13:04:05.120+05:30
bool IsLocalTime(std::string_view t) {
    static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd.ddd+dd:dd";
    if (t.size() != kShape.size()) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const bool digit = t[i] >= '0' && t[i] <= '9';
        if (kShape[i] == 'd'
                ? !digit
                : (kShape[i] == '+' ? t[i] != '+' && t[i] != '-' : t[i] != kShape[i])) {
            return false;
        }
    }
    return true;
}

void CheckText(std::string_view field, const std::string& recorded, const char* property) {
    const auto back = Unescaped(field);
    fuzz::Check(back.has_value() && *back == recorded, property, std::string(field));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // An offset with minutes, without needing the time zone database.
    setenv("TZ", "<+0530>-5:30", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    PrintLogEntry e;
    // As far either side of 1970 as the clock's nanoseconds reach (1684 to
    // 2255): the year always has four digits.
    constexpr std::int64_t kFarMs = 9'000'000'000'000;
    const std::int64_t ms = in.ConsumeIntegralInRange<std::int64_t>(-kFarMs, kFarMs);
    e.Time = std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
    e.JobId = in.ConsumeIntegral<int>();
    e.Width = in.ConsumeIntegral<int>();
    e.Height = in.ConsumeIntegral<int>();
    e.Code = static_cast<HotFolderError>(in.ConsumeIntegralInRange<int>(0, 10));
    e.Result = static_cast<PrintLogEntry::Outcome>(in.ConsumeIntegralInRange<int>(0, 4));
    e.HotFolder = in.ConsumeRandomLengthString();
    e.File = in.ConsumeRandomLengthString();
    e.Printer = in.ConsumeRandomLengthString();
    e.Reason = in.ConsumeRemainingBytesAsString();

    const std::string line = FormatPrintLogLine(e);
    fuzz::Check(line.find_first_of("\r\n") == std::string::npos, "an entry is one line", line);
    const std::vector<std::string_view> f = Fields(line);
    fuzz::Check(f.size() == 9, "an entry has nine fields", line);
    fuzz::Check(IsLocalTime(f[0]), "the time has its shape", std::string(f[0]));
    CheckText(f[1], e.HotFolder, "the folder's name reads back");
    CheckText(f[2], e.File, "the file reads back");
    CheckText(f[3], e.Printer, "the printer reads back");
    fuzz::Check(f[4] == std::to_string(e.JobId), "the job id reads back", line);
    fuzz::Check(f[5] == std::to_string(e.Width) + "x" + std::to_string(e.Height),
                "the size reads back", line);
    static constexpr std::string_view kOutcomes[] = {"sent", "printed", "kept", "not-deleted",
                                                     "interrupted"};
    fuzz::Check(f[6] == kOutcomes[static_cast<int>(e.Result)], "the outcome reads back", line);
    fuzz::Check(f[7] == std::to_string(static_cast<int>(e.Code)), "the code reads back", line);
    CheckText(f[8], e.Reason, "the reason reads back");
    return 0;
}
