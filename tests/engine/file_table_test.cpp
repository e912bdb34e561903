#include "engine/file_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/engine/fakes.h"

using namespace tallowin;

namespace {

// A table update whose call-outs are played by the test: every print gives
// `outcome`, and the names in `writing` / `before` are held by a writer /
// were handed over by an earlier run.
struct Update {
    FileTable next;
    std::vector<std::string> printed;
};

struct Play {
    std::uint32_t now = 0;
    std::uint32_t firstRetryMs = 5000;
    PrintOutcome outcome = PrintOutcome::Handled;
    std::set<std::string> writing;
    std::set<std::string> before;
    bool stopped = false;
};

Play Gives(PrintOutcome outcome) {
    Play p;
    p.outcome = outcome;
    return p;
}
Play Writing(const std::string& name) {
    Play p;
    p.writing.insert(name);
    return p;
}
Play Before(const std::string& name) {
    Play p;
    p.before.insert(name);
    return p;
}
Play Stopped() {
    Play p;
    p.stopped = true;
    return p;
}

Update ScanWith(const FileTable& previous, const Listing& listing, const Play& play = {}) {
    Update u;
    TableScan scan;
    scan.Now = play.now;
    scan.FirstRetryMs = play.firstRetryMs;
    scan.Print = [&](const ListedFile& f) {
        u.printed.push_back(f.Name);
        return play.outcome;
    };
    scan.HandledBefore = [&](const ListedFile& f) { return play.before.count(f.Name) != 0; };
    scan.BeingWritten = [&](const ListedFile& f) { return play.writing.count(f.Name) != 0; };
    scan.Stopped = [&] { return play.stopped; };
    u.next = UpdateFileTable(previous, listing, scan);
    return u;
}

FileEntry Entry(const std::string& name, std::uint32_t size, FileMark mark = FileMark::Waiting,
                std::uint64_t inode = 1) {
    return {name, size, Listed(name, size, inode).Identity, mark};
}

FileEntry Unreadable(FileEntry entry) {
    entry.Readable = false;
    return entry;
}
ListedFile Unreadable(ListedFile file) {
    file.Readable = false;
    return file;
}

using Names = std::vector<std::string>;

struct Case {
    const char* name;
    FileTable previous;
    Listing listing;
    Play play;
    Names printed;
    std::vector<FileMark> marks;  // of the next table, in order
};

TEST(FileTable, OneScan) {
    const std::string high = "\xc3\xa9t\xc3\xa9.jpg";  // "été.jpg": bytes above 0x7f last
    const Case cases[] = {
        {"new file is recorded, not printed", {}, {Listed("a", 10)}, {}, {}, {FileMark::Waiting}},
        {"growing file waits", {Entry("a", 10)}, {Listed("a", 20)}, {}, {}, {FileMark::Waiting}},
        {"settled file is printed and handled",
         {Entry("a", 10)},
         {Listed("a", 10)},
         {},
         {"a"},
         {FileMark::Handled}},
        {"zero-length file settles like any other",
         {Entry("e", 0)},
         {Listed("e", 0)},
         {},
         {"e"},
         {FileMark::Handled}},
        {"handled file is never printed again while unchanged",
         {Entry("a", 10, FileMark::Handled)},
         {Listed("a", 10)},
         {},
         {},
         {FileMark::Handled}},
        {"new inode under a printed name is a new file",
         {Entry("a", 10, FileMark::Handled)},
         {Listed("a", 10, 2)},
         {},
         {},
         {FileMark::Waiting}},
        {"new modification time is a new file",
         {Entry("a", 10, FileMark::Handled)},
         {Listed("a", 10, 1, 99)},
         {},
         {},
         {FileMark::Waiting}},
        {"same size but another inode does not settle",
         {Entry("a", 10)},
         {Listed("a", 10, 7)},
         {},
         {},
         {FileMark::Waiting}},
        {"same low 32 bits but another whole size does not settle",
         {Entry("big", 10)},
         {{"big", 10, FileIdentity{1, 1, 10 + (std::uint64_t{1} << 32), 0}}},
         {},
         {},
         {FileMark::Waiting}},
        {"writer holding it open keeps it waiting",
         {Entry("a", 10)},
         {Listed("a", 10)},
         Writing("a"),
         {},
         {FileMark::Waiting}},
        {"newcomer handed over by an earlier run is handled",
         {},
         {Listed("a", 10)},
         Before("a"),
         {},
         {FileMark::Handled}},
        {"stop leaves settled files waiting",
         {Entry("a", 1), Entry("b", 1)},
         {Listed("a", 1), Listed("b", 1)},
         Stopped(),
         {},
         {FileMark::Waiting, FileMark::Waiting}},
        {"interrupted print leaves the file waiting",
         {Entry("a", 1)},
         {Listed("a", 1)},
         Gives(PrintOutcome::NotTried),
         {"a"},
         {FileMark::Waiting}},
        {"printer failure marks it for retry",
         {Entry("a", 1)},
         {Listed("a", 1)},
         Gives(PrintOutcome::RetryLater),
         {"a"},
         {FileMark::Retry}},
        {"gone files are dropped",
         {Entry("a", 1), Entry("b", 2, FileMark::Handled)},
         {},
         {},
         {},
         {}},
        {"kept as unreadable and readable now settles anew",
         {Unreadable(Entry("a", 1, FileMark::Handled))},
         {Listed("a", 1)},
         {},
         {},
         {FileMark::Waiting}},
        {"kept for retry while unreadable settles anew once readable",
         {Unreadable(Entry("a", 1, FileMark::Retry))},
         {Listed("a", 1)},
         {},
         {},
         {FileMark::Waiting}},
        {"readable again but sent by an earlier run stays handled",
         {Unreadable(Entry("a", 1, FileMark::Handled))},
         {Listed("a", 1)},
         Before("a"),
         {},
         {FileMark::Handled}},
        {"turning unreadable changes nothing decided",
         {Entry("a", 1, FileMark::Handled)},
         {Unreadable(Listed("a", 1))},
         {},
         {},
         {FileMark::Handled}},
        {"unreadable settled file is still handed over (its failure is the reason)",
         {Unreadable(Entry("a", 1))},
         {Unreadable(Listed("a", 1))},
         {},
         {"a"},
         {FileMark::Handled}},
        {"renamed (case) counts as new",
         {Entry("photo", 7)},
         {Listed("Photo", 7)},
         {},
         {},
         {FileMark::Waiting}},
        {"settling together prints in unsigned byte order",
         {Entry("B", 1), Entry("_", 1), Entry("a", 1), Entry("b", 1), Entry(high, 1)},
         {Listed("B", 1), Listed("_", 1), Listed("a", 1), Listed("b", 1), Listed(high, 1)},
         {},
         {"B", "_", "a", "b", high},
         std::vector<FileMark>(5, FileMark::Handled)},
        {"mixed scan keeps exactly the listed files",
         {Entry("done", 9, FileMark::Handled), Entry("gone", 1), Entry("grow", 1),
          Entry("ready", 4)},
         {Listed("done", 9), Listed("grow", 2), Listed("new", 3), Listed("ready", 4)},
         {},
         {"ready"},
         {FileMark::Handled, FileMark::Waiting, FileMark::Waiting, FileMark::Handled}},
    };
    for (const Case& c : cases) {
        const Update u = ScanWith(c.previous, c.listing, c.play);
        EXPECT_EQ(u.printed, c.printed) << c.name;
        std::vector<FileMark> marks;
        Names names;
        for (const FileEntry& e : u.next) {
            marks.push_back(e.Mark);
            names.push_back(e.Name);
        }
        EXPECT_EQ(marks, c.marks) << c.name;
        Names listed;
        for (const ListedFile& f : c.listing) listed.push_back(f.Name);
        EXPECT_EQ(names, listed) << c.name;
        for (std::size_t i = 0; i < u.next.size(); ++i) {
            EXPECT_EQ(u.next[i].Identity, c.listing[i].Identity) << c.name;
            EXPECT_EQ(u.next[i].Readable, c.listing[i].Readable) << c.name;
        }
    }
}

TEST(FileTable, RetryPausesDoubleUpToAMinute) {
    Play play = Gives(PrintOutcome::RetryLater);
    Update u = ScanWith({Entry("a", 1)}, {Listed("a", 1)}, play);
    ASSERT_EQ(u.next[0].Mark, FileMark::Retry);
    // Each failed try doubles the pause; before it has passed nothing is tried.
    const std::uint32_t pauses[] = {5000, 10000, 20000, 40000, 60000, 60000};
    for (const std::uint32_t pause : pauses) {
        EXPECT_EQ(u.next[0].RetryDelayMs, pause);
        play.now += pause - 1;
        u = ScanWith(u.next, {Listed("a", 1)}, play);
        EXPECT_TRUE(u.printed.empty()) << pause;
        play.now += 1;
        u = ScanWith(u.next, {Listed("a", 1)}, play);
        EXPECT_EQ(u.printed, Names{"a"}) << pause;
    }
    // The printer works again: printed, handled, never again.
    play.now += 60000;
    play.outcome = PrintOutcome::Handled;
    u = ScanWith(u.next, {Listed("a", 1)}, play);
    EXPECT_EQ(u.printed, Names{"a"});
    u = ScanWith(u.next, {Listed("a", 1)}, play);
    EXPECT_TRUE(u.printed.empty());
    EXPECT_EQ(u.next[0].Mark, FileMark::Handled);
}

TEST(FileTable, FileAnotherHostHasIsLookedAtAgainAfterTheFirstPauseEachTime) {
    Play play = Gives(PrintOutcome::Deferred);
    Update u = ScanWith({Entry("a", 1)}, {Listed("a", 1)}, play);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(u.next[0].Mark, FileMark::Retry);
        EXPECT_EQ(u.next[0].RetryDelayMs, 5000u) << i;
        play.now += 4999;
        u = ScanWith(u.next, {Listed("a", 1)}, play);
        EXPECT_TRUE(u.printed.empty()) << i;
        play.now += 1;
        u = ScanWith(u.next, {Listed("a", 1)}, play);
        EXPECT_EQ(u.printed, Names{"a"}) << i;
    }
    // Then its host went away: the pauses grow from there.
    play.outcome = PrintOutcome::RetryLater;
    play.now += 5000;
    u = ScanWith(u.next, {Listed("a", 1)}, play);
    EXPECT_EQ(u.next[0].RetryDelayMs, 10000u);
}

TEST(FileTable, RetryAcrossTheTickWrap) {
    Play play = Gives(PrintOutcome::RetryLater);
    play.now = 0xfffff000u;
    Update u = ScanWith({Entry("a", 1)}, {Listed("a", 1)}, play);
    play.now += 5000;  // wraps
    u = ScanWith(u.next, {Listed("a", 1)}, play);
    EXPECT_EQ(u.printed, Names{"a"});
}

TEST(FileTable, FileKeptForRetryThatChangesSettlesAgain) {
    Play play = Gives(PrintOutcome::RetryLater);
    Update u = ScanWith({Entry("a", 1)}, {Listed("a", 1)}, play);
    play.now = 100000;
    u = ScanWith(u.next, {Listed("a", 2)}, play);
    EXPECT_TRUE(u.printed.empty());
    EXPECT_EQ(u.next[0].Mark, FileMark::Waiting);
}

TEST(FileTable, WriterClosingLetsItSettleAtTheNextScan) {
    Play play = Writing("a");
    Update u = ScanWith({Entry("a", 1)}, {Listed("a", 1)}, play);
    EXPECT_TRUE(u.printed.empty());
    play.writing.clear();
    u = ScanWith(u.next, {Listed("a", 1)}, play);
    EXPECT_EQ(u.printed, Names{"a"});
}

}  // namespace
