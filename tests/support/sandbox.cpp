#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "tests/support/process.h"

namespace sandbox {
namespace {

namespace fs = std::filesystem;

constexpr auto kPollInterval = std::chrono::milliseconds(50);

// The job id of a finished job's data file, "job-<id>.data"; nothing for any
// other name (the backend's temporary files start with a dot).
std::optional<unsigned long long> DataFileJobId(const std::string& name) {
    static const std::string kPrefix = "job-";
    static const std::string kSuffix = ".data";
    if (name.size() <= kPrefix.size() + kSuffix.size() ||
        name.compare(0, kPrefix.size(), kPrefix) != 0 ||
        name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
        return std::nullopt;
    }
    const std::string digits =
        name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    if (digits.size() > 18 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoull(digits);
}

// The finished jobs in dir, by ascending job id. Fails the test and returns
// nothing when dir cannot be listed.
std::optional<std::vector<unsigned long long>> FinishedJobIds(const std::string& dir) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        ADD_FAILURE() << "cannot list the sandbox output folder " << dir << ": " << ec.message();
        return std::nullopt;
    }
    std::vector<unsigned long long> ids;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (auto id = DataFileJobId(it->path().filename().string())) ids.push_back(*id);
    }
    if (ec) {
        ADD_FAILURE() << "cannot list the sandbox output folder " << dir << ": " << ec.message();
        return std::nullopt;
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// The whole file, byte for byte; fails the test when it cannot be read.
std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) ADD_FAILURE() << "cannot read the captured job file " << path;
    return bytes.str();
}

}  // namespace

std::string Server() {
    const char* server = std::getenv("CUPS_SERVER");
    if (server == nullptr || *server == '\0') {
        ADD_FAILURE() << "CUPS_SERVER is not set: run the tests through scripts/test, or export "
                         "the socket that `scripts/cups-sandbox start` prints";
        return {};
    }
    return server;
}

std::string OutputDir(const std::string& queue) {
    const std::string server = Server();
    if (server.empty()) return {};
    if (server.front() != '/') {
        ADD_FAILURE() << "CUPS_SERVER is " << server
                      << ", not the socket of a scripts/cups-sandbox scheduler";
        return {};
    }
    return fs::path(server).parent_path().string() + "/output/" + queue;
}

std::vector<CapturedJob> WaitForJobs(const std::string& queue, std::size_t count, int timeoutMs) {
    const std::string dir = OutputDir(queue);
    if (dir.empty()) return {};

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::optional<std::vector<unsigned long long>> ids = FinishedJobIds(dir);
    while (ids && ids->size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kPollInterval);
        ids = FinishedJobIds(dir);
    }
    if (!ids) return {};

    // The backend renames the data into place last, so the title, the
    // options and the copies of a job whose data is there are complete.
    std::vector<CapturedJob> jobs;
    jobs.reserve(ids->size());
    for (unsigned long long id : *ids) {
        const std::string base = dir + "/job-" + std::to_string(id);
        jobs.push_back(CapturedJob{base + ".data", ReadWhole(base + ".title"),
                                   ReadWhole(base + ".options"), ReadWhole(base + ".copies")});
    }
    return jobs;
}

void ClearJobs(const std::string& queue) {
    const std::string dir = OutputDir(queue);
    if (dir.empty()) return;

    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    std::vector<fs::path> doomed;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (it->path().filename().string().rfind("job-", 0) == 0) doomed.push_back(it->path());
    }
    if (ec) {
        ADD_FAILURE() << "cannot list the sandbox output folder " << dir << ": " << ec.message();
        return;
    }
    for (const fs::path& path : doomed) {
        if (!fs::remove(path, ec) && ec) {
            ADD_FAILURE() << "cannot remove the captured job file " << path << ": " << ec.message();
        }
    }
}

FrozenScheduler::FrozenScheduler() {
    const std::string server = Server();
    if (server.empty()) return;
    // scripts/cups-sandbox keeps the scheduler's pid beside its socket.
    const std::string pidFile = fs::path(server).parent_path().string() + "/cupsd.pid";
    const std::string text = ReadWhole(pidFile);
    const int pid = std::atoi(text.c_str());
    if (pid <= 1) {
        ADD_FAILURE() << "no scheduler pid in " << pidFile;
        return;
    }
    if (kill(pid, SIGSTOP) != 0) {
        ADD_FAILURE() << "cannot stop the scheduler " << pid;
        return;
    }
    pid_ = pid;
}

FrozenScheduler::~FrozenScheduler() {
    if (pid_ > 0) kill(pid_, SIGCONT);
}

void CrashScheduler(bool forgetJobs) {
    const std::string command =
        ShellQuote(std::string(TALLOWIN_SOURCE_DIR) + "/scripts/cups-sandbox") + " crash " +
        ShellQuote(Server()) + (forgetJobs ? " forget" : "");
    const CommandResult done = RunCommand(command);
    EXPECT_EQ(done.ExitCode, 0) << command << ": " << done.Output;
}

void SetQueueEnabled(const std::string& queue, bool enabled) {
    // cupsenable lives in sbin, which a plain user's PATH may lack.
    const std::string command = std::string("PATH=\"$PATH:/usr/sbin:/sbin\" ") +
                                (enabled ? "cupsenable" : "cupsdisable") + " -h " +
                                ShellQuote(Server()) + " " + ShellQuote(queue);
    const CommandResult done = RunCommand(command);
    EXPECT_EQ(done.ExitCode, 0) << command << ": " << done.Output;
}

PrivateHome::PrivateHome() {
    setenv("HOME", dir_.Path().c_str(), 1);
    const std::string serverRoot = dir_ / "serverroot";
    mkdir(serverRoot.c_str(), 0700);
    setenv("CUPS_SERVERROOT", serverRoot.c_str(), 1);
    mkdir((dir_ / ".cups").c_str(), 0700);
}

std::string PrivateHome::Lpoptions() const {
    return dir_ / ".cups/lpoptions";
}

const std::string& PrivateHome::Path() const {
    return dir_.Path();
}

PrivateHome& Home() {
    static PrivateHome home;
    return home;
}

void SetLpoptions(const std::string& content) {
    if (content.empty()) {
        unlink(Home().Lpoptions().c_str());
    } else {
        WriteFile(Home().Lpoptions(), content);
    }
}

}  // namespace sandbox
