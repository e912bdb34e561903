#include "engine/file_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Runs one table update and records the print call-outs.
struct Update {
    FileTable next;
    std::vector<std::string> printed;
};

Update ScanWith(const FileTable& previous, const Listing& listing) {
    Update u;
    u.next = UpdateFileTable(previous, listing,
                             [&](const std::string& name) { u.printed.push_back(name); });
    return u;
}

FileTable Table(std::initializer_list<FileEntry> entries) {
    FileTable t;
    for (const FileEntry& e : entries) t.emplace(e.Name, e);
    return t;
}

TEST(FileTable, NewFileIsRecordedButNotPrinted) {
    const Update u = ScanWith({}, {{"a.jpg", 10}});
    EXPECT_TRUE(u.printed.empty());
    EXPECT_EQ(u.next, Table({{"a.jpg", 10, 0}}));
}

TEST(FileTable, GrowingFileTakesTheNewSizeAndWaits) {
    const Update u = ScanWith(Table({{"a.jpg", 10, 0}}), {{"a.jpg", 20}});
    EXPECT_TRUE(u.printed.empty());
    EXPECT_EQ(u.next, Table({{"a.jpg", 20, 0}}));
}

TEST(FileTable, SettledFileIsPrintedOnceAndMarked) {
    Update u = ScanWith(Table({{"a.jpg", 10, 0}}), {{"a.jpg", 10}});
    EXPECT_EQ(u.printed, std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(u.next, Table({{"a.jpg", 10, 1}}));
    // Still there at the next scan (could not be deleted): never again, even
    // when its size changes.
    u = ScanWith(u.next, {{"a.jpg", 99}});
    EXPECT_TRUE(u.printed.empty());
    EXPECT_EQ(u.next, Table({{"a.jpg", 10, 1}}));
}

TEST(FileTable, ZeroLengthFileSettlesLikeAnyOther) {
    const Update u = ScanWith(Table({{"empty", 0, 0}}), {{"empty", 0}});
    EXPECT_EQ(u.printed, std::vector<std::string>{"empty"});
}

TEST(FileTable, GoneFileIsDropped) {
    const Update u = ScanWith(Table({{"a", 1, 0}, {"b", 2, 1}}), {});
    EXPECT_TRUE(u.printed.empty());
    EXPECT_TRUE(u.next.empty());
}

TEST(FileTable, FilesSettlingTogetherPrintInUnsignedByteOrder) {
    // Upper case before lower case, and bytes above 0x7f after all ASCII.
    const std::string high = "\xc3\xa9t\xc3\xa9.jpg";  // "été.jpg" in UTF-8
    const FileTable prev =
        Table({{"b", 1, 0}, {"B", 1, 0}, {"a", 1, 0}, {high, 1, 0}, {"_", 1, 0}});
    const Update u = ScanWith(prev, {{"b", 1}, {"B", 1}, {"a", 1}, {high, 1}, {"_", 1}});
    EXPECT_EQ(u.printed, (std::vector<std::string>{"B", "_", "a", "b", high}));
}

TEST(FileTable, PrintedMarkIsSetBeforeThePrintRuns) {
    // The call-out sees the file as already handed over: whatever the print
    // job does, the entry stays printed.
    const FileTable prev = Table({{"a", 5, 0}});
    FileTable next = UpdateFileTable(prev, {{"a", 5}}, [](const std::string&) {});
    EXPECT_EQ(next.at("a").Printed, 1);
}

TEST(FileTable, RenamedFileCountsAsNew) {
    // A change of case is a change of name.
    const Update u = ScanWith(Table({{"photo.jpg", 7, 0}}), {{"Photo.jpg", 7}});
    EXPECT_TRUE(u.printed.empty());
    EXPECT_EQ(u.next, Table({{"Photo.jpg", 7, 0}}));
}

TEST(FileTable, SameLow32BitsLookUnchanged) {
    // The lister reports sizes modulo 2^32, so growing by exactly 4 GiB is no
    // change at all; one byte more is.
    const std::uint64_t small = 10;
    const std::uint64_t grown = small + (std::uint64_t{1} << 32);
    Update u = ScanWith(Table({{"big", static_cast<std::uint32_t>(small), 0}}),
                        {{"big", static_cast<std::uint32_t>(grown)}});
    EXPECT_EQ(u.printed, std::vector<std::string>{"big"});
    u = ScanWith(Table({{"big", static_cast<std::uint32_t>(small), 0}}),
                 {{"big", static_cast<std::uint32_t>(grown + 1)}});
    EXPECT_TRUE(u.printed.empty());
}

TEST(FileTable, NameMustBeAbsentOnceBeforeItPrintsAgain) {
    // Printed, deleted, and a new file of the same name arrives before the
    // next scan: the printed entry holds it back.
    Update u = ScanWith(Table({{"a", 3, 1}}), {{"a", 8}});
    EXPECT_TRUE(u.printed.empty());
    u = ScanWith(u.next, {{"a", 8}});
    EXPECT_TRUE(u.printed.empty());
    // Gone for one scan, then back: new, then printed the scan after.
    u = ScanWith(u.next, {});
    u = ScanWith(u.next, {{"a", 8}});
    EXPECT_TRUE(u.printed.empty());
    u = ScanWith(u.next, {{"a", 8}});
    EXPECT_EQ(u.printed, std::vector<std::string>{"a"});
}

TEST(FileTable, MixedScanKeepsExactlyTheListedFiles) {
    const FileTable prev = Table({{"gone", 1, 0}, {"grow", 1, 0}, {"ready", 4, 0}, {"done", 9, 1}});
    const Update u = ScanWith(prev, {{"grow", 2}, {"ready", 4}, {"done", 9}, {"new", 3}});
    EXPECT_EQ(u.printed, std::vector<std::string>{"ready"});
    EXPECT_EQ(u.next, Table({{"done", 9, 1}, {"grow", 2, 0}, {"new", 3, 0}, {"ready", 4, 1}}));
}

}  // namespace
