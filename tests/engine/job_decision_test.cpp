#include "engine/job_decision.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

JobRecord Record(JobRecord::Stage stage, int jobId, std::string uuid) {
    JobRecord r;
    r.State = stage;
    r.JobId = jobId;
    r.JobUuid = std::move(uuid);
    return r;
}

TEST(DecideJob, EveryRecordAndAnswer) {
    using S = JobRecord::Stage;
    using A = JobAction;
    const JobRecord sent = Record(S::Sent, 7, "urn:uuid:a");
    const JobRecord sending = Record(S::Sending, 7, "urn:uuid:a");  // the job is known
    const JobRecord sendingById = Record(S::Sending, 7, "");        // a scheduler without uuids
    const JobRecord unnamed = Record(S::Sending, 0, "");            // ended before the job was told
    struct Case {
        const char* name;
        const JobRecord& record;
        JobStatus job;
        bool graceOver;
        JobAction want;
    };
    const Case cases[] = {
        {"sent, pending", sent, {JobState::Pending, {}, false}, false, A::Wait},
        {"sent, completed", sent, {JobState::Completed, {}, false}, false, A::Delete},
        {"sent, failed", sent, {JobState::Failed, "aborted", false}, false, A::Keep},
        {"sent, cannot ask", sent, {JobState::Unknown, {}, false}, true, A::Wait},
        {"sent, gone in the grace", sent, {JobState::Gone, {}, false}, false, A::Wait},
        {"sent, gone past the grace", sent, {JobState::Gone, {}, false}, true, A::Resend},
        {"sending, pending with its page", sending, {JobState::Pending, {}, false}, false, A::Wait},
        {"sending, pending without its page",
         sending,
         {JobState::Pending, {}, true},
         false,
         A::CancelAndResend},
        {"sending, completed", sending, {JobState::Completed, {}, false}, false, A::Delete},
        {"sending, completed without a page",
         sending,
         {JobState::Completed, {}, true},
         false,
         A::Resend},
        {"sending, failed with its page", sending, {JobState::Failed, {}, false}, false, A::Keep},
        {"sending, failed without its page",
         sending,
         {JobState::Failed, {}, true},
         false,
         A::Resend},
        {"sending, cannot ask", sending, {JobState::Unknown, {}, false}, false, A::Wait},
        {"sending, gone past the grace", sending, {JobState::Gone, {}, false}, true, A::Resend},
        {"sending by id, pending",
         sendingById,
         {JobState::Pending, {}, true},
         false,
         A::CancelAndResend},
        {"sending, no job told", unnamed, {JobState::Completed, {}, false}, true, A::Search},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecideJob(c.record, c.job, c.graceOver), c.want) << c.name;
    }
}

TEST(DecideJob, MostTellingJobOfASearch) {
    const auto job = [](int id, std::int64_t created, JobState state, bool documentless) {
        return FoundJob{{id, "urn:uuid:" + std::to_string(id), created}, {state, {}, documentless}};
    };
    struct Case {
        const char* name;
        std::vector<FoundJob> found;
        int want;  // the id; 0 for none
    };
    const Case cases[] = {
        {"none", {}, 0},
        {"completed over pending",
         {job(1, 10, JobState::Completed, false), job(2, 20, JobState::Pending, false)},
         1},
        {"with its page over without",
         {job(1, 10, JobState::Pending, false), job(2, 20, JobState::Pending, true)},
         1},
        {"waiting over failed",
         {job(1, 10, JobState::Failed, false), job(2, 20, JobState::Pending, true)},
         2},
        {"newest of equals",
         {job(1, 10, JobState::Failed, true), job(2, 20, JobState::Failed, true)},
         2},
    };
    for (const Case& c : cases) {
        const FoundJob* best = MostTelling(c.found);
        EXPECT_EQ(best == nullptr ? 0 : best->Ticket.Id, c.want) << c.name;
    }
}

TEST(DecideJob, EarliestJobTimeIsTheLaterOfFileAndRecordLessTheClocksRoom) {
    EXPECT_EQ(EarliestJobTime(100'500'000'000, 0), 98);
    EXPECT_EQ(EarliestJobTime(100'500'000'000, 150), 148);
}

}  // namespace
