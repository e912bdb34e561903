// Internal to the CUPS adapter: asking the scheduler about jobs already
// made (their state, a search by name, a cancel). Like cups_common.h it
// includes <cups/cups.h>, so only the CUPS adapters' .cpp files include it.
// Every call makes its own connection, bounded in time and by stop as
// cupsutil::ConnectBounded bounds it; nothing throws but std::bad_alloc.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/ports/services.h"

namespace tallowin {

namespace cupsutil {

// The job's uuid and creation time as the scheduler gives them, asked over
// http (whose guard bounds the request); empty and 0 when it does not say.
JobTicket ReadTicket(http_t* http, int jobId);

// See Spooler::QueryJob. A job is Gone when the scheduler does not know its
// id, or when the id now names a job of another printer, another uuid or
// another creation time (the scheduler lost its history and counts anew).
// A job that holds no document (job-k-octets 0) is Documentless.
JobStatus QueryJob(const std::string& printerName, const JobTicket& job, const StopSignal& stop);

struct BoundedHttp;
// The same over a connection already made, whose guard bounds the request
// (what it watches, it watches here too).
JobStatus QueryJob(const BoundedHttp& http, const std::string& printerName, const JobTicket& job);

// See Spooler::FindJobs: Get-Jobs of this user's jobs (my-jobs, as cupsUser()), all of
// them, finished ones included, filtered by printer, job name (jobName as
// it is, already made a job name) and creation time.
Result<std::vector<FoundJob>> FindJobs(const std::string& printerName, const std::string& jobName,
                                       std::int64_t notBefore, const StopSignal& stop);

// See Spooler::CancelJob.
Status CancelJob(int jobId, const StopSignal& stop);

}  // namespace cupsutil

}  // namespace tallowin
