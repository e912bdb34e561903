#include "os/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

// A pid that names no process: a child that has ended and been reaped.
pid_t DeadPid() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

TEST(InstanceLock, HeldByAnotherProcessUntilItEnds) {
    TempDir dir;
    const std::string path = LockPathFor(dir / "tallowin.ini");
    EXPECT_EQ(path, dir / "tallowin.ini.lock");
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(release[1]);  // or the read below never sees the end
        const InstanceLock lock(path);
        const char ok = lock.Result().Acquired ? '1' : '0';
        [[maybe_unused]] ssize_t n = write(ready[1], &ok, 1);
        char byte;
        n = read(release[0], &byte, 1);
        _exit(0);  // the kernel drops the lock; no destructor runs
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    {
        const InstanceLock refused(path);
        EXPECT_FALSE(refused.Result().Acquired);
        EXPECT_EQ(refused.Result().HolderPid, child);
    }
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    // The child ended without removing the file or its pid: stale, not held.
    EXPECT_EQ(ReadFile(path), std::to_string(child) + "\n");
    const InstanceLock after(path);
    EXPECT_TRUE(after.Result().Acquired) << after.Result().Reason;
    EXPECT_EQ(ReadFile(path), std::to_string(getpid()) + "\n");
    // A second lock in the same process conflicts too (flock is per open file).
    const InstanceLock second(path);
    EXPECT_FALSE(second.Result().Acquired);
    EXPECT_EQ(second.Result().HolderPid, getpid());
    for (int fd : {ready[0], ready[1], release[0]}) close(fd);
}

TEST(InstanceLock, StaleOrUnusableLockFiles) {
    struct Case {
        const char* Name;
        std::string Content;  // of a lock file left behind, "" for none
        bool Acquired;
    };
    const Case cases[] = {
        {"no_file", "", true},
        {"dead_pid_left_behind", std::to_string(DeadPid()) + "\n", true},
        {"garbage_left_behind", "not a pid", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::string path = dir / "p.ini.lock";
        if (!c.Content.empty()) WriteFile(path, c.Content);
        const InstanceLock lock(path);
        EXPECT_EQ(lock.Result().Acquired, c.Acquired) << lock.Result().Reason;
        EXPECT_EQ(lock.Result().HolderPid, getpid());
    }
    TempDir dir;
    WriteFile(dir / "file", "");
    const InstanceLock inside_a_file(dir / "file/p.ini.lock");
    EXPECT_FALSE(inside_a_file.Result().Acquired);
    EXPECT_EQ(inside_a_file.Result().HolderPid, 0);
    EXPECT_FALSE(inside_a_file.Result().Reason.empty());
}

}  // namespace
