#include "cups/cups_jobs.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "cups/internal/cups_common.h"

namespace tallowin {

namespace cupsutil {

namespace {

struct IppFreer {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppFreer>;

// The attributes that tell where a job stands and which job it is.
constexpr const char* kJobAttributes[] = {
    "job-id",          "job-name",          "job-uuid",          "time-at-creation",
    "job-state",       "job-state-reasons", "job-state-message", "job-printer-state-message",
    "job-printer-uri", "job-k-octets",
};

// One job as the scheduler describes it.
struct JobFields {
    int Id = 0;
    std::string Name, Uuid, PrinterUri, StateMessage, PrinterStateMessage;
    std::int64_t CreatedAt = 0;
    int State = 0;
    std::vector<std::string> Reasons;
    std::optional<int> KOctets;
};

std::string StringOf(ipp_attribute_t* attr) {
    const char* text = ippGetString(attr, 0, nullptr);
    return text != nullptr ? text : "";
}

// Takes what attr says of a job into job.
void Take(JobFields& job, ipp_attribute_t* attr) {
    const std::string_view name = ippGetName(attr);
    const ipp_tag_t tag = ippGetValueTag(attr);
    const bool number = tag == IPP_TAG_INTEGER || tag == IPP_TAG_ENUM;
    if (name == "job-id" && number) {
        job.Id = ippGetInteger(attr, 0);
    } else if (name == "job-name") {
        job.Name = StringOf(attr);
    } else if (name == "job-uuid") {
        job.Uuid = StringOf(attr);
    } else if (name == "job-printer-uri") {
        job.PrinterUri = StringOf(attr);
    } else if (name == "job-state-message") {
        job.StateMessage = StringOf(attr);
    } else if (name == "job-printer-state-message") {
        job.PrinterStateMessage = StringOf(attr);
    } else if (name == "time-at-creation" && number) {
        job.CreatedAt = ippGetInteger(attr, 0);
    } else if (name == "job-state" && number) {
        job.State = ippGetInteger(attr, 0);
    } else if (name == "job-k-octets" && number) {
        job.KOctets = ippGetInteger(attr, 0);
    } else if (name == "job-state-reasons") {
        for (int i = 0; i < ippGetCount(attr); ++i) {
            if (const char* reason = ippGetString(attr, i, nullptr))
                job.Reasons.emplace_back(reason);
        }
    }
}

// Every job of a response, in its order: each job's attributes form a
// group of their own.
std::vector<JobFields> ReadJobs(ipp_t* response) {
    std::vector<JobFields> jobs;
    bool inJob = false;
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr != nullptr;
         attr = ippNextAttribute(response)) {
        if (ippGetGroupTag(attr) != IPP_TAG_JOB || ippGetName(attr) == nullptr) {
            inJob = false;  // a separator, or another group
            continue;
        }
        if (!inJob) jobs.emplace_back();
        inJob = true;
        Take(jobs.back(), attr);
    }
    return jobs;
}

// "reason,reason: message" for a job that ended badly. The scheduler
// (CUPS 2.4) leaves an aborted job with the transient
// processing-to-stop-point and no job-state-message; the last words of the
// backend or filter are in job-printer-state-message.
std::string EndedJobWords(const JobFields& job) {
    std::string reasons;
    for (const std::string& reason : job.Reasons) {
        if (reason.empty() || reason == "none" || reason == "processing-to-stop-point") continue;
        if (!reasons.empty()) reasons += ',';
        reasons += reason;
    }
    if (reasons.empty()) {
        reasons = job.State == IPP_JSTATE_ABORTED ? "aborted-by-system" : "job-canceled-by-user";
    }
    for (const std::string* text : {&job.StateMessage, &job.PrinterStateMessage}) {
        if (!text->empty()) return reasons + ": " + *text;
    }
    return reasons;
}

JobStatus StatusOf(const JobFields& job) {
    // The scheduler counts a job's document in once it has it whole; a job
    // whose sender was cut off holds none, and its k-octets stay 0.
    const bool documentless = job.KOctets && *job.KOctets == 0;
    const std::string named = "job " + std::to_string(job.Id);
    switch (static_cast<ipp_jstate_t>(job.State)) {
        case IPP_JSTATE_PENDING:
        case IPP_JSTATE_HELD:
        case IPP_JSTATE_PROCESSING:
        case IPP_JSTATE_STOPPED:
            return {JobState::Pending, {}, documentless};
        case IPP_JSTATE_COMPLETED:
            return {JobState::Completed, {}, documentless};
        case IPP_JSTATE_CANCELED:
        case IPP_JSTATE_ABORTED:
            return {JobState::Failed, EndedJobWords(job), documentless};
    }
    return {JobState::Unknown, "the scheduler gives no known state for " + named};
}

// True when printerUri names the queue of printerName (a queue or a class:
// the last part of the URI).
bool OfPrinter(std::string_view printerUri, const std::string& printerName) {
    const std::optional<DestName> name = SplitName(printerName);
    const auto slash = printerUri.rfind('/');
    return name && slash != std::string_view::npos && printerUri.substr(slash + 1) == name->Queue;
}

std::string JobUri(int jobId) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/jobs/%d", jobId);
    return uri;
}

// A request about one job, on behalf of this user.
ipp_t* JobRequest(ipp_op_t operation, int jobId) {
    ipp_t* request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr,
                 JobUri(jobId).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    return request;
}

void AskFor(ipp_t* request) {
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kJobAttributes)), nullptr, kJobAttributes);
}

bool Succeeded(ipp_status_t status) {
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

}  // namespace

JobTicket ReadTicket(http_t* http, int jobId) {
    ipp_t* request = JobRequest(IPP_OP_GET_JOB_ATTRIBUTES, jobId);
    static const char* const kWanted[] = {"job-uuid", "time-at-creation"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(kWanted)), nullptr, kWanted);
    const Ipp response(cupsDoRequest(http, request, "/"));  // frees request
    JobTicket ticket{jobId, {}, 0};
    if (!response || !Succeeded(ippGetStatusCode(response.get()))) return ticket;
    for (const JobFields& job : ReadJobs(response.get())) {
        ticket.Uuid = job.Uuid;
        ticket.CreatedAt = job.CreatedAt;
    }
    return ticket;
}

JobStatus QueryJob(const std::string& printerName, const JobTicket& job, const StopSignal& stop) {
    if (job.Id <= 0) return {JobState::Gone, "no job " + std::to_string(job.Id)};
    const Result<BoundedHttp> http = ConnectBounded(stop);
    if (!http.Ok()) return {JobState::Unknown, http.Error.Reason};
    return QueryJob(http.Value, printerName, job);
}

JobStatus QueryJob(const BoundedHttp& http, const std::string& printerName, const JobTicket& job) {
    const std::string named = "job " + std::to_string(job.Id);
    if (job.Id <= 0) return {JobState::Gone, "no " + named};
    ipp_t* request = JobRequest(IPP_OP_GET_JOB_ATTRIBUTES, job.Id);
    AskFor(request);
    const Ipp response(cupsDoRequest(http.get(), request, "/"));  // frees request
    if (!response || !Succeeded(ippGetStatusCode(response.get()))) {
        const std::string why = LastError(*http.Guard);
        if (!http.Guard->GaveUp() && cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) {
            return {JobState::Gone, "the scheduler does not know " + named + ": " + why};
        }
        return {JobState::Unknown, why};
    }
    const std::vector<JobFields> jobs = ReadJobs(response.get());
    if (jobs.empty()) return {JobState::Unknown, "the scheduler says nothing of " + named};
    const JobFields& found = jobs.front();
    // The scheduler's ids are its own and start again when it loses its
    // history: an id that now names a job of another printer, uuid or time
    // is not the job that was sent.
    if (!found.PrinterUri.empty() && !OfPrinter(found.PrinterUri, printerName)) {
        return {JobState::Gone, named + " now belongs to " + found.PrinterUri};
    }
    if (!job.Uuid.empty() && !found.Uuid.empty() && found.Uuid != job.Uuid) {
        return {JobState::Gone, named + " is now another job (" + found.Uuid + ")"};
    }
    if (job.CreatedAt != 0 && found.CreatedAt != 0 && found.CreatedAt != job.CreatedAt) {
        return {JobState::Gone, named + " is now another job, made at another time"};
    }
    return StatusOf(found);
}

Result<std::vector<FoundJob>> FindJobs(const std::string& printerName, const std::string& jobName,
                                       std::int64_t notBefore, const StopSignal& stop) {
    Result<BoundedHttp> http = ConnectBounded(stop);
    if (!http.Ok()) return {{}, http.Error};
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    // Every destination: a class's job may name the class or its member.
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                 "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    AskFor(request);
    const Ipp response(cupsDoRequest(http.Value.get(), request, "/"));  // frees request
    if (!response || !Succeeded(ippGetStatusCode(response.get()))) {
        return {{}, Status::Failure(HF_ERR_UNREACHABLE, LastError(*http.Value.Guard))};
    }
    std::vector<FoundJob> found;
    for (const JobFields& job : ReadJobs(response.get())) {
        // my-jobs has the scheduler keep to this user's jobs, under whatever
        // name it knows the user by (a remote one may map it).
        if (job.Name != jobName || job.CreatedAt < notBefore ||
            !OfPrinter(job.PrinterUri, printerName)) {
            continue;
        }
        found.push_back({JobTicket{job.Id, job.Uuid, job.CreatedAt}, StatusOf(job)});
    }
    std::stable_sort(found.begin(), found.end(), [](const FoundJob& a, const FoundJob& b) {
        return a.Ticket.CreatedAt < b.Ticket.CreatedAt;
    });
    return {std::move(found), {}};
}

Status CancelJob(int jobId, const StopSignal& stop) {
    Result<BoundedHttp> http = ConnectBounded(stop);
    if (!http.Ok()) return http.Error;
    const Ipp response(cupsDoRequest(http.Value.get(), JobRequest(IPP_OP_CANCEL_JOB, jobId), "/"));
    if (response && Succeeded(ippGetStatusCode(response.get()))) return Status::Success();
    const ipp_status_t status = cupsLastError();
    const bool transport = http.Value.Guard->GaveUp() ||
                           status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE ||
                           status == IPP_STATUS_ERROR_INTERNAL || !response;
    return Status::Failure(
        transport ? HF_ERR_UNREACHABLE : HF_ERR_JOB_FAILED,
        "cannot cancel job " + std::to_string(jobId) + ": " + LastError(*http.Value.Guard));
}

}  // namespace cupsutil

}  // namespace tallowin
