#include "os/folder_listing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

FileIdentity IdentityOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Name and low 32 bits of the size of each file listed, in order.
std::vector<std::pair<std::string, std::uint32_t>> NamesAndSizes(const Listing& listing) {
    std::vector<std::pair<std::string, std::uint32_t>> out;
    for (const ListedFile& f : listing) out.emplace_back(f.Name, f.Size);
    return out;
}
using Sizes = std::vector<std::pair<std::string, std::uint32_t>>;

TEST(FolderLister, IsFolderOnlyForExistingFolders) {
    TempDir dir;
    PosixFolderLister lister;
    WriteFile(dir / "file", "x");
    ASSERT_EQ(symlink(dir.Path().c_str(), (dir / "link-to-dir").c_str()), 0);
    struct Case {
        std::string path;
        bool folder;
    } cases[] = {
        {dir.Path(), true},
        {dir.Path() + "/", true},
        {dir / "link-to-dir", true},  // a folder reached through a link is still the folder
        {dir / "file", false},
        {dir / "missing", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lister.IsFolder(c.path), c.folder) << "'" << c.path << "'";
}

TEST(FolderLister, EverySpellingOfAFolderFindsTheSameOne) {
    TempDir dir;
    PosixFolderLister lister;
    ASSERT_EQ(mkdir((dir / "other").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dir.Path().c_str(), (dir / "link").c_str()), 0);
    const std::optional<FolderKey> key = lister.FindFolder(dir.Path());
    ASSERT_TRUE(key);
    for (const std::string& same :
         {dir.Path() + "/", dir / "link", dir / "link/", dir / "other/.."})
        EXPECT_EQ(lister.FindFolder(same), key) << same;
    EXPECT_NE(lister.FindFolder(dir / "other"), key);
}

TEST(FolderLister, ReadableIsWhatTheModeBitsGrantThisProcess) {
    // Whoever runs the test (root reads everything), each file's flag says
    // what the kernel says.
    TempDir dir;
    PosixFolderLister lister;
    for (const mode_t mode : {0000, 0400, 0040, 0004, 0644, 0200}) {
        const std::string name = "m" + std::to_string(mode);
        WriteFile(dir / name, "x");
        ASSERT_EQ(chmod((dir / name).c_str(), mode), 0);
    }
    for (const ListedFile& f : lister.List(dir.Path())) {
        EXPECT_EQ(f.Readable, access((dir / f.Name).c_str(), R_OK) == 0) << f.Name;
    }
}

TEST(MayRead, WeighsTheOwnersTheGroupsOrTheOthersBits) {
    const Credentials user{1000, 100, {20, 30}};
    const Credentials root{0, 0, {}};
    struct Case {
        const char* name;
        mode_t mode;
        uid_t owner;
        gid_t group;
        Credentials who;
        bool readable;
    } cases[] = {
        {"owner with read", 0400, 1000, 5, user, true},
        {"owner without read, though others may", 0044, 1000, 5, user, false},
        {"effective group", 0040, 1, 100, user, true},
        {"supplementary group", 0040, 1, 30, user, true},
        {"group without read, though others may", 0004, 1, 20, user, false},
        {"others", 0004, 1, 5, user, true},
        {"nobody", 0000, 1000, 100, user, false},
        {"write only", 0222, 1000, 100, user, false},
        {"the super-user reads anything", 0000, 1000, 100, root, true},
    };
    for (const Case& c : cases) {
        struct stat st {};
        st.st_mode = S_IFREG | c.mode;
        st.st_uid = c.owner;
        st.st_gid = c.group;
        EXPECT_EQ(MayRead(st, c.who), c.readable) << c.name;
    }
}

TEST(FolderLister, ListsOnlyRegularFilesWithTheirSizes) {
    TempDir dir;
    WriteFile(dir / "a.jpg", "12345");
    WriteFile(dir / "empty", "");
    WriteFile(dir / "Caf\xe9.png", "xy");  // not valid UTF-8: names are bytes
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    WriteFile(dir / "sub/inner.jpg", "zzz");
    ASSERT_EQ(symlink((dir / "a.jpg").c_str(), (dir / "link.jpg").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir / "sock";
    ASSERT_LT(sockPath.size(), sizeof(addr.sun_path));
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", sockPath.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    close(s);

    const Listing listing = PosixFolderLister().List(dir.Path());
    EXPECT_EQ(NamesAndSizes(listing), (Sizes{{"Caf\xe9.png", 2}, {"a.jpg", 5}, {"empty", 0}}));
    for (const ListedFile& f : listing) EXPECT_EQ(f.Identity, IdentityOf(dir / f.Name)) << f.Name;
}

TEST(FolderLister, SizesAreTheLow32Bits) {
    TempDir dir;
    const std::string path = dir / "huge";
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    // Sparse: takes no room on disk.
    ASSERT_EQ(ftruncate(fd, (off_t{1} << 32) + 10), 0) << "file system without sparse files?";
    close(fd);
    const Listing listing = PosixFolderLister().List(dir.Path());
    EXPECT_EQ(NamesAndSizes(listing), (Sizes{{"huge", 10}}));
    ASSERT_EQ(listing.size(), 1u);
    EXPECT_EQ(listing[0].Identity.Size, (std::uint64_t{1} << 32) + 10) << "the whole size";
}

TEST(FolderLister, NamesAreInUnsignedByteOrder) {
    TempDir dir;
    const std::vector<std::string> sorted = {"A", "B", "a", "b", "z", "\x7f", "\xc3\xa9", "\xff"};
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) WriteFile(dir / *it, "x");
    std::vector<std::string> names;
    for (const ListedFile& f : PosixFolderLister().List(dir.Path())) names.push_back(f.Name);
    EXPECT_EQ(names, sorted);
}

TEST(FolderLister, AWriterIsSeenUntilItCloses) {
    TempDir dir;
    PosixFolderLister lister;
    const std::string path = dir / "growing.jpg";
    WriteFile(path, "first bytes");
    EXPECT_EQ(lister.ProbeWriter(path), WriterProbe::NotOpen);

    const int writer = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(lister.ProbeWriter(path), WriterProbe::OpenForWriting);
    const int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    close(writer);
    EXPECT_EQ(lister.ProbeWriter(path), WriterProbe::NotOpen) << "a reader is no writer";
    close(reader);

    // Nothing to ask about: the answer cannot be known.
    ASSERT_EQ(symlink(path.c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(lister.ProbeWriter(dir / "link"), WriterProbe::Unknown);
    EXPECT_EQ(lister.ProbeWriter(dir / "missing"), WriterProbe::Unknown);
}

TEST(FolderLister, FolderThatCannotBeListedGivesNothing) {
    PosixFolderLister lister;
    EXPECT_TRUE(lister.List("/nonexistent/folder").empty());
    TempDir dir;
    WriteFile(dir / "file", "x");
    EXPECT_TRUE(lister.List(dir / "file").empty());
}

TEST(FileRemover, DeletesOnlyTheVeryFileThatWasLoaded) {
    TempDir dir;
    PosixFileRemover remover;
    const std::string path = dir / "photo.jpg";
    struct Case {
        const char* Name;
        std::function<void()> Change;  // what happens to the file after it was loaded
        bool Deleted;
        const char* Reason;  // part of the reason when kept
    } cases[] = {
        {"unchanged", [] {}, true, ""},
        {"replaced under the same name",
         [&] {
             ASSERT_EQ(rename(path.c_str(), (dir / "old").c_str()), 0);
             WriteFile(path, "original");
         },
         false, "replaced"},
        {"rewritten in place with other content", [&] { WriteFile(path, "a longer one"); }, false,
         "changed"},
        {"touched",
         [&] {
             timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
             ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
         },
         false, "changed"},
        {"gone already", [&] { ASSERT_EQ(unlink(path.c_str()), 0); }, false,
         "No such file or directory"},
        {"now a link to the file",
         [&] {
             ASSERT_EQ(rename(path.c_str(), (dir / "moved").c_str()), 0);
             ASSERT_EQ(symlink((dir / "moved").c_str(), path.c_str()), 0);
         },
         false, "replaced"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        unlink(path.c_str());
        WriteFile(path, "original");
        const FileIdentity id = IdentityOf(path);
        c.Change();
        const Status removed = remover.RemoveIfSame(path, id);
        EXPECT_EQ(removed.Ok(), c.Deleted) << removed.Reason;
        if (!c.Deleted) {
            EXPECT_EQ(removed.Code, HF_ERR_NOT_DELETED);
            EXPECT_NE(removed.Reason.find(c.Reason), std::string::npos) << removed.Reason;
        }
        EXPECT_EQ(FileExists(path), !c.Deleted && std::string(c.Name) != "gone already");
    }
}

TEST(PosixFileRemover, RecognisesAFileOfAShareMountedAgainUnderAnotherDeviceNumber) {
    TempDir dir;
    const std::string path = dir / "a.jpg";
    WriteFile(path, "original");
    FileIdentity id = IdentityOf(path);
    id.Device += 1;  // as the record of a run before the remount holds it
    PosixFileRemover remover;
    const Status removed = remover.RemoveIfSame(path, id);
    EXPECT_TRUE(removed.Ok()) << removed.Reason;
    EXPECT_FALSE(FileExists(path));
}

}  // namespace
