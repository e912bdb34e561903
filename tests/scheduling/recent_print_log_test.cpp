#include "scheduling/recent_print_log.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/engine/fakes.h"

using namespace tallowin;

namespace {

PrintLogEntry Entry(const std::string& folder, const std::string& file) {
    PrintLogEntry e;
    e.HotFolder = folder;
    e.File = file;
    return e;
}

std::vector<std::string> Files(const std::vector<PrintLogEntry>& entries) {
    std::vector<std::string> out;
    for (const PrintLogEntry& e : entries) out.push_back(e.File);
    return out;
}

using FileNames = std::vector<std::string>;

TEST(RecentPrintLog, KeepsTheLastEntriesNewestFirstAndFiltersByFolder) {
    struct Case {
        const char* name;
        std::size_t capacity;
        std::optional<std::string> filter;
        FileNames expected;
    };
    const Case cases[] = {
        {"all", 10, std::nullopt, {"4", "3", "2", "1"}},
        {"one folder", 10, "A", {"3", "1"}},
        {"unknown folder", 10, "C", {}},
        {"oldest dropped", 2, std::nullopt, {"4", "3"}},
        {"oldest dropped, filtered", 3, "A", {"3"}},
        {"keeps nothing", 0, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        RecentPrintLog log(c.capacity);
        log.Record(Entry("A", "1"));
        log.Record(Entry("B", "2"));
        log.Record(Entry("A", "3"));
        log.Record(Entry("B", "4"));
        EXPECT_EQ(Files(log.Recent(c.filter)), c.expected) << c.name;
        EXPECT_EQ(log.Count(), 4u) << c.name;
    }
}

TEST(RecentPrintLog, TakesEntriesFromSeveralThreads) {
    RecentPrintLog log(50);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < 100; ++i) log.Record(Entry(std::to_string(t), std::to_string(i)));
        });
    }
    for (int i = 0; i < 100; ++i) EXPECT_LE(log.Recent().size(), 50u);
    for (std::thread& w : writers) w.join();
    EXPECT_EQ(log.Count(), 400u);
    EXPECT_EQ(log.Recent().size(), 50u);
}

TEST(TeePrintLog, HandsEveryEntryToEachLogInOrder) {
    RecordingLog first;
    RecentPrintLog second;
    TeePrintLog tee({&first, &second});
    tee.Record(Entry("A", "1"));
    tee.Record(Entry("A", "2"));
    EXPECT_EQ(Files(first.Entries()), (FileNames{"1", "2"}));
    EXPECT_EQ(Files(second.Recent()), (FileNames{"2", "1"}));
}

}  // namespace
