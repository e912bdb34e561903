#include "platform/folder_listing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace {

FileIdentity IdentityOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

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
    EXPECT_EQ(listing, (Listing{{"Caf\xe9.png", 2}, {"a.jpg", 5}, {"empty", 0}}));
}

TEST(FolderLister, SizesAreTheLow32Bits) {
    TempDir dir;
    const std::string path = dir / "huge";
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    // Sparse: takes no room on disk.
    ASSERT_EQ(ftruncate(fd, (off_t{1} << 32) + 10), 0) << "file system without sparse files?";
    close(fd);
    EXPECT_EQ(PosixFolderLister().List(dir.Path()), (Listing{{"huge", 10}}));
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

    WriteFile(path, "original");
    FileIdentity id = IdentityOf(path);
    EXPECT_TRUE(remover.RemoveIfSame(path, id));
    EXPECT_FALSE(FileExists(path));

    // Replaced under the same name while it printed: a new inode, kept.
    WriteFile(path, "original");
    id = IdentityOf(path);
    ASSERT_EQ(rename(path.c_str(), (dir / "old").c_str()), 0);
    WriteFile(path, "original");
    EXPECT_FALSE(remover.RemoveIfSame(path, id));
    EXPECT_TRUE(FileExists(path));

    // Rewritten in place with other content: another size, kept.
    id = IdentityOf(path);
    WriteFile(path, "a longer replacement");
    EXPECT_FALSE(remover.RemoveIfSame(path, id));
    EXPECT_TRUE(FileExists(path));

    // Touched (same size, new modification time): kept.
    id = IdentityOf(path);
    timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_FALSE(remover.RemoveIfSame(path, id));
    EXPECT_TRUE(FileExists(path));

    // Gone already, or now a link to the file: nothing deleted.
    id = IdentityOf(path);
    ASSERT_EQ(rename(path.c_str(), (dir / "moved").c_str()), 0);
    EXPECT_FALSE(remover.RemoveIfSame(path, id));
    ASSERT_EQ(symlink((dir / "moved").c_str(), path.c_str()), 0);
    EXPECT_FALSE(remover.RemoveIfSame(path, id));
    EXPECT_TRUE(FileExists(dir / "moved"));
}

}  // namespace
