#include "os/file_mover.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "os/file_identity.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

FileIdentity Identity(const std::string& path) {
    const auto identity = IdentityOfPath(path);
    EXPECT_TRUE(identity.has_value()) << path;
    return identity.value_or(FileIdentity{});
}

TEST(FileMoverTest, NeverMovesOverAnotherFile) {
    struct Case {
        const char* Name;
        std::vector<std::string> Taken;  // names already in the target folder
        const char* MovedTo;
    };
    const Case cases[] = {
        {"photo.jpg", {}, "photo.jpg"},
        {"photo.jpg", {"photo.jpg"}, "photo (2).jpg"},
        {"photo.jpg", {"photo.jpg", "photo (2).jpg"}, "photo (3).jpg"},
        {"photo.jpg", {"photo (2).jpg"}, "photo.jpg"},
        {"README", {"README"}, "README (2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " -> " + c.MovedTo);
        TempDir dir;
        std::filesystem::create_directory(dir / "printed");
        const std::string path = dir / c.Name;
        WriteFile(path, "picture");
        for (const std::string& name : c.Taken) WriteFile(dir / ("printed/" + name), "other");
        PosixFileMover mover;
        const Result<std::string> moved =
            mover.MoveIfSame(path, Identity(path), dir / "printed", HF_ERR_NOT_DELETED);
        ASSERT_TRUE(moved.Ok()) << moved.Error.Reason;
        EXPECT_EQ(moved.Value, dir / (std::string("printed/") + c.MovedTo));
        EXPECT_FALSE(FileExists(path));
        EXPECT_EQ(ReadFile(moved.Value), "picture");
        for (const std::string& name : c.Taken) {
            EXPECT_EQ(ReadFile(dir / ("printed/" + name)), "other");
        }
    }
}

TEST(FileMoverTest, LeavesTheFileWhenItCannotMoveIt) {
    TempDir dir;
    std::filesystem::create_directory(dir / "printed");
    const std::string path = dir / "a.jpg";
    WriteFile(path, "picture");
    const FileIdentity identity = Identity(path);
    FileIdentity changed = identity;
    ++changed.Size;
    FileIdentity replaced = identity;
    ++replaced.Inode;
    struct Case {
        const char* Name;
        FileIdentity Identity;
        std::string Folder;
        const char* Reason;
    };
    const Case cases[] = {
        {"changed", changed, dir / "printed", "the file was changed after it was printed"},
        {"replaced", replaced, dir / "printed",
         "the file was replaced by another of the same name"},
        {"no_folder", identity, dir / "gone", nullptr},
        {"folder_is_a_file", identity, path, nullptr},
    };
    PosixFileMover mover;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const Result<std::string> moved = mover.MoveIfSame(path, c.Identity, c.Folder, HF_ERR_PATH);
        EXPECT_FALSE(moved.Ok());
        EXPECT_EQ(moved.Error.Code, HF_ERR_PATH);
        if (c.Reason) {
            EXPECT_EQ(moved.Error.Reason, c.Reason);
        } else {
            EXPECT_EQ(moved.Error.Reason, "the folder " + c.Folder + " does not exist");
        }
        EXPECT_EQ(ReadFile(path), "picture");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "printed"));
}

// A folder in memory (/dev/shm) is another file system than the temporary
// folder's: the file is copied, times and mode kept, and the original goes.
TEST(FileMoverTest, MovesAcrossFileSystems) {
    TempDir dir;
    std::string shm = "/dev/shm/tallowin-mover.XXXXXX";
    if (mkdtemp(shm.data()) == nullptr) GTEST_SKIP() << "no /dev/shm";
    struct Cleanup {
        std::string Path;
        ~Cleanup() { std::filesystem::remove_all(Path); }
    } cleanup{shm};
    struct stat a {
    }, b{};
    ASSERT_EQ(stat(dir.Path().c_str(), &a), 0);
    ASSERT_EQ(stat(shm.c_str(), &b), 0);
    if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm is on the same file system";

    const std::string path = dir / "a.jpg";
    WriteFile(path, std::string(3 << 20, 'x'));  // more than one buffer
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    WriteFile(shm + "/a.jpg", "other");
    const FileIdentity identity = Identity(path);
    PosixFileMover mover;
    const Result<std::string> moved = mover.MoveIfSame(path, identity, shm, HF_ERR_NOT_DELETED);
    ASSERT_TRUE(moved.Ok()) << moved.Error.Reason;
    EXPECT_EQ(moved.Value, shm + "/a (2).jpg");
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(ReadFile(moved.Value), std::string(3 << 20, 'x'));
    EXPECT_EQ(ReadFile(shm + "/a.jpg"), "other");
    struct stat st {};
    ASSERT_EQ(stat(moved.Value.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(tallowin::IdentityOf(st).ModifiedNs, identity.ModifiedNs);

    // Changed since: nothing is copied, the file stays.
    WriteFile(path, "new");
    FileIdentity old = Identity(path);
    ++old.ModifiedNs;
    EXPECT_FALSE(mover.MoveIfSame(path, old, shm, HF_ERR_NOT_DELETED).Ok());
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_FALSE(FileExists(shm + "/a (3).jpg"));
}

}  // namespace
