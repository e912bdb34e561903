#include "app/status_report.h"

#include <gtest/gtest.h>

#include <sstream>

#include "os/instance_lock.h"
#include "os/status_socket.h"
#include "tests/support/runtime_dir.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

InstanceReport Sample() {
    InstanceReport r;
    r.Pid = 4321;
    r.UptimeSeconds = 3723;
    r.Mode = "service";
    r.Profile = "/home/u/.config/tallowin/tallowin.ini";
    r.Started = true;
    r.Folders = {
        {"Photos", "Running", "office", "Printer needs attention: Out of paper", 2, 17, 1, 0},
        {"Scans", "Error", "", "Path is not valid", 1, 1, 0, 0},
        {"Busy", "Printing", "lab", "No errors", 4, 0, 3, 2},
    };
    return r;
}

TEST(StatusReport, JsonCarriesEveryFieldThere_AndBack) {
    const InstanceReport sample = Sample();
    const std::string json = StatusJson(sample);
    for (const char* part : {"\"pid\": 4321", "\"uptime\": 3723", "\"running\": true",
                             "\"folders\": [", "\"files_waiting\": 3", "\"jobs_in_flight\": 2",
                             "\"error\": \"Printer needs attention: Out of paper\""}) {
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    }
    const Result<InstanceReport> back = ParseStatusJson(json);
    ASSERT_TRUE(back.Ok()) << back.Error.Reason;
    EXPECT_EQ(back.Value, sample);
}

TEST(StatusReport, RawBytesInANameStillMakeValidJson) {
    InstanceReport r = Sample();
    r.Folders[0].Name = "caf\xe9";  // Latin-1, not UTF-8
    const Result<InstanceReport> back = ParseStatusJson(StatusJson(r));
    ASSERT_TRUE(back.Ok()) << back.Error.Reason;
    EXPECT_EQ(back.Value.Folders[0].Name, "caf\xef\xbf\xbd");
}

TEST(StatusReport, ReadsNothingButAReport) {
    for (const char* text : {"", "not json", "[]", "{\"pid\": 1}", "{\"error\": \"x\"}",
                             "{\"pid\": 1, \"uptime\": 2, \"folders\": [{\"name\": 3}]}"}) {
        SCOPED_TRACE(text);
        const Result<InstanceReport> r = ParseStatusJson(text);
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(r.Error.Code, HF_ERR_STATE);
        EXPECT_FALSE(r.Error.Reason.empty());
    }
}

TEST(StatusReport, TextIsATableOfTheFolders) {
    const std::string text = StatusText(Sample());
    EXPECT_NE(text.find("process 4321, up 1:02:03, service"), std::string::npos) << text;
    EXPECT_NE(text.find("FOLDER  STATE     PRINTER  WAITING  IN FLIGHT  ERROR"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Photos  Running   office   1        0          Printer needs "
                        "attention: Out of paper"),
              std::string::npos)
        << text;
    InstanceReport none = Sample();
    none.Folders.clear();
    none.Started = false;
    EXPECT_NE(StatusText(none).find("service, stopped"), std::string::npos);
    EXPECT_NE(StatusText(none).find("No hot folders."), std::string::npos);
}

TEST(StatusReport, AnswersOnlyTheStatusRequest) {
    const auto make = [] { return Sample(); };
    EXPECT_EQ(AnswerStatusRequest("status", make), StatusJson(Sample()));
    EXPECT_NE(AnswerStatusRequest("shutdown", make).find("\"error\""), std::string::npos);
}

struct CommandOutcome {
    int Exit = -1;
    std::string Out, Err;
};

CommandOutcome RunStatus(const std::string& profile, bool json) {
    std::ostringstream out, err;
    CommandOutcome o;
    o.Exit = RunStatusCommand(profile, json, out, err);
    o.Out = out.str();
    o.Err = err.str();
    return o;
}

TEST(StatusCommand, AsksTheInstanceThatHoldsTheProfile) {
    RuntimeDir runtime;
    TempDir dir;
    const std::string profile = dir / "tallowin.ini";
    const CommandOutcome none = RunStatus(profile, false);
    EXPECT_EQ(none.Exit, kStatusNotRunning);
    EXPECT_EQ(none.Out, "not running (profile " + profile + ")\n");
    const CommandOutcome noneJson = RunStatus(profile, true);
    EXPECT_EQ(noneJson.Exit, kStatusNotRunning);
    EXPECT_NE(noneJson.Out.find("\"running\":false"), std::string::npos) << noneJson.Out;

    const InstanceLock lock(LockPathFor(profile));
    ASSERT_TRUE(lock.Result().Acquired);
    const StatusServer server(StatusSocketPathFor(LockPathFor(profile)),
                              [](const std::string& request) {
                                  return AnswerStatusRequest(request, [] { return Sample(); });
                              });
    ASSERT_TRUE(server.Listening().Ok()) << server.Listening().Reason;
    const CommandOutcome text = RunStatus(profile, false);
    EXPECT_EQ(text.Exit, kStatusRunning) << text.Err;
    EXPECT_EQ(text.Out, StatusText(Sample()));
    const CommandOutcome json = RunStatus(profile, true);
    EXPECT_EQ(json.Exit, kStatusRunning) << json.Err;
    EXPECT_EQ(json.Out, StatusJson(Sample()));
}

TEST(StatusCommand, AnAnswerThatIsNoReportIsAFailure) {
    RuntimeDir runtime;
    TempDir dir;
    const std::string profile = dir / "tallowin.ini";
    const InstanceLock lock(LockPathFor(profile));
    const StatusServer server(StatusSocketPathFor(LockPathFor(profile)),
                              [](const std::string&) { return std::string("garbage\n"); });
    ASSERT_TRUE(server.Listening().Ok());
    const CommandOutcome o = RunStatus(profile, false);
    EXPECT_EQ(o.Exit, kStatusFailed);
    EXPECT_NE(o.Err.find("cannot be read"), std::string::npos) << o.Err;
}

}  // namespace
