#include "os/status_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/runtime_dir.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;
using namespace std::chrono_literals;

namespace {

StatusServer::Handler Echo() {
    return [](const std::string& request) { return "you said " + request + "\n"; };
}

TEST(StatusSocket, TheServerAnswersItsOwnUser) {
    RuntimeDir runtime;
    TempDir profiles;
    const std::string path = StatusSocketPathFor(profiles / "tallowin.ini.lock");
    ASSERT_EQ(path.rfind(runtime.Dir() / "tallowin/", 0), 0u) << path;
    const StatusServer server(path, Echo());
    ASSERT_TRUE(server.Listening().Ok()) << server.Listening().Reason;
    struct stat st {};
    ASSERT_EQ(stat((runtime.Dir() / "tallowin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const char* request : {"status", "again"}) {
        const StatusReply reply = QueryStatusSocket(path, request, 5s);
        EXPECT_EQ(reply.How, StatusReply::Outcome::Answered) << reply.Error;
        EXPECT_EQ(reply.Text, std::string("you said ") + request + "\n");
    }
}

TEST(StatusSocket, EverySpellingOfAProfileFindsOneSocket) {
    RuntimeDir runtime;
    TempDir profiles;
    ASSERT_EQ(mkdir((profiles / "sub").c_str(), 0700), 0);
    ASSERT_EQ(symlink(profiles.Path().c_str(), (profiles / "link").c_str()), 0);
    const std::string path = StatusSocketPathFor(profiles / "a.ini.lock");
    EXPECT_EQ(StatusSocketPathFor(profiles / "sub/../a.ini.lock"), path);
    EXPECT_EQ(StatusSocketPathFor(profiles / "link/a.ini.lock"), path);
    EXPECT_NE(StatusSocketPathFor(profiles / "b.ini.lock"), path);
    EXPECT_EQ(StatusSocketPathFor(profiles / "missing/a.ini.lock"), "");
}

TEST(StatusSocket, NobodyListeningIsNotRunning) {
    RuntimeDir runtime;
    TempDir profiles;
    const std::string path = StatusSocketPathFor(profiles / "tallowin.ini.lock");
    EXPECT_EQ(QueryStatusSocket(path, "status", 5s).How, StatusReply::Outcome::NotRunning);
    {
        const StatusServer server(path, Echo());
        ASSERT_TRUE(server.Listening().Ok());
    }
    // The server removed its file on the way out; a file left by a crash
    // (a socket bound and never listened on) is refused all the same.
    EXPECT_EQ(QueryStatusSocket(path, "status", 5s).How, StatusReply::Outcome::NotRunning);
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    EXPECT_EQ(QueryStatusSocket(path, "status", 5s).How, StatusReply::Outcome::NotRunning);
    // The next instance takes the place of the dead one's file.
    const StatusServer server(path, Echo());
    ASSERT_TRUE(server.Listening().Ok()) << server.Listening().Reason;
    EXPECT_EQ(QueryStatusSocket(path, "status", 5s).How, StatusReply::Outcome::Answered);
}

TEST(StatusSocket, RefusesAFolderOthersMayEnter) {
    RuntimeDir runtime;
    ASSERT_EQ(mkdir((runtime.Dir() / "tallowin").c_str(), 0755), 0);
    const StatusServer server(runtime.Dir() / "tallowin/x.sock", Echo());
    EXPECT_FALSE(server.Listening().Ok());
    EXPECT_NE(server.Listening().Reason.find("not a folder private to this user"),
              std::string::npos);
}

// The folder keeps other users out; should it ever not, the peer's
// credentials still do. Needs root, to become another user.
TEST(StatusSocket, AnotherUserGetsNoAnswer) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
    RuntimeDir runtime;
    const std::string path = runtime.Dir() / "tallowin/x.sock";
    const StatusServer server(path, Echo());
    ASSERT_TRUE(server.Listening().Ok());
    // Opened up by hand, as a careless chmod would.
    ASSERT_EQ(chmod(runtime.Dir().Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod((runtime.Dir() / "tallowin").c_str(), 0755), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        const StatusReply reply = QueryStatusSocket(path, "status", 5s);
        _exit(reply.How == StatusReply::Outcome::Failed && reply.Text.empty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: could not become nobody; 1: it was answered";
    // The server still answers its own user.
    EXPECT_EQ(QueryStatusSocket(path, "status", 5s).How, StatusReply::Outcome::Answered);
}

}  // namespace
