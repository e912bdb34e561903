#include "cups/cups_spooler.h"

#include <cups/cups.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "cups/cups_jobs.h"
#include "cups/internal/cups_common.h"
#include "cups/internal/destination.h"
#include "engine/pool_geometry.h"

namespace tallowin {

namespace {

using cupsutil::Dest;
using cupsutil::DestContext;
using cupsutil::DestInfo;
using cupsutil::Media;
using cupsutil::Resolution;
using cupsutil::UserOption;

constexpr std::size_t kMaxNameBytes = 255;  // IPP's limit for a name value

// An owned array of CUPS options.
class Options {
  public:
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    ~Options() { cupsFreeOptions(count_, options_); }

    void Set(const char* name, const char* value) {
        count_ = cupsAddOption(name, value, count_, &options_);
    }
    int Count() const { return count_; }
    cups_option_t* Get() const { return options_; }

  private:
    int count_ = 0;
    cups_option_t* options_ = nullptr;
};

// The sheet as the page lies on it when the content is turned: landscape
// turns it a quarter counter-clockwise (the sheet's left edge becomes the
// page's top), reverse landscape a quarter clockwise.
Media Turned(const Media& m, int orientation) {
    if (orientation == IPP_ORIENT_LANDSCAPE)
        return {m.Length, m.Width, m.Bottom, m.Top, m.Left, m.Right};
    if (orientation == IPP_ORIENT_REVERSE_LANDSCAPE)
        return {m.Length, m.Width, m.Top, m.Bottom, m.Right, m.Left};
    return m;
}

// The sheet the destination prints on, as the page lies, and its resolution.
std::optional<PrinterSheet> ReadSheet(const DestContext& c) {
    const std::optional<Media> media = cupsutil::PrintedSheet(c);
    const std::optional<Resolution> res = cupsutil::PrintedResolution(c);
    if (!media || !res) return std::nullopt;

    const int orientation = cupsutil::PrintedOrientation(c);
    const bool landscape =
        orientation == IPP_ORIENT_LANDSCAPE || orientation == IPP_ORIENT_REVERSE_LANDSCAPE;
    const Media m = Turned(*media, orientation);
    return PrinterSheet{m.Width,
                        m.Length,
                        m.Left,
                        m.Right,
                        m.Top,
                        m.Bottom,
                        landscape ? res->Y : res->X,
                        landscape ? res->X : res->Y};
}

struct IppFreer {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppFreer>;

// True when the destination is a class: a pool of queues of which the
// scheduler picks one for each job.
bool IsClass(const DestContext& c) {
    const char* type = UserOption(c, "printer-type");
    if (type == nullptr) return false;
    const std::optional<int> bits = cupsutil::ParsePositive(type);
    return bits && (*bits & CUPS_PRINTER_CLASS) != 0;
}

// The queues of a class (member-names); empty when the scheduler does not
// say. Asked over the destination's own connection, so its guard bounds it.
std::vector<std::string> MemberNames(const DestContext& c) {
    const char* uri = UserOption(c, "printer-uri-supported");
    if (uri == nullptr) return {};
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "member-names");
    // An error response lacks member-names as well.
    const Ipp response(cupsDoRequest(c.Http, request, "/"));  // frees the request
    if (!response) return {};
    ipp_attribute_t* names = ippFindAttribute(response.get(), "member-names", IPP_TAG_NAME);
    std::vector<std::string> members;
    for (int i = 0; names != nullptr && i < ippGetCount(names); ++i) {
        if (const char* name = ippGetString(names, i, nullptr); name != nullptr && *name != '\0') {
            members.emplace_back(name);
        }
    }
    return members;
}

// What Open reads of a destination: its page, and whether it offers what
// the job's options ask for.
struct Reading {
    std::optional<PageGeometry> Page;
    Status Offered;  // HF_ERR_SETTINGS when it does not offer an option's value
};

// A class's page, combined from its members' pages, each read as Open
// reads that queue (its own defaults and the user's options for it, the
// job's options on top): a job sent to the class may land on any of them,
// so each of them must offer what the options ask for.
Reading ReadClass(const DestContext& c, const std::vector<NamedValue>& options,
                  const std::string& printerName) {
    std::vector<PrinterSheet> sheets;
    for (const std::string& member : MemberNames(c)) {
        const Dest dest = cupsutil::FindDest(c.Http, {member, {}});
        if (!dest) return {};
        const DestInfo info(cupsCopyDestInfo(c.Http, dest.get()));
        if (!info) return {};
        cupsutil::LayerOptions(dest.get(), options);
        const DestContext memberContext{c.Http, dest.get(), info.get()};
        if (!options.empty()) {
            Status offered = cupsutil::CheckOffered(memberContext, options, member);
            if (!offered.Ok()) {
                offered.Reason += " (a member of '" + printerName + "')";
                return {std::nullopt, offered};
            }
        }
        const std::optional<PrinterSheet> sheet = ReadSheet(memberContext);
        if (!sheet) return {};
        sheets.push_back(*sheet);
    }
    return {PoolPage(sheets), {}};
}

// c's destination has the options layered on already.
Reading Read(const DestContext& c, const std::vector<NamedValue>& options,
             const std::string& printerName) {
    if (IsClass(c)) return ReadClass(c, options, printerName);
    if (!options.empty()) {
        if (Status offered = cupsutil::CheckOffered(c, options, printerName); !offered.Ok()) {
            return {std::nullopt, offered};
        }
    }
    const std::optional<PrinterSheet> sheet = ReadSheet(c);
    if (!sheet) return {};
    return {PageOf(*sheet), {}};
}

// The successful-ok range: a job whose attributes the scheduler adjusted
// (successful-ok-ignored-or-substituted-attributes) is still a job.
bool Succeeded(ipp_status_t status) {
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

// How long cancelling a job that failed may take: it runs after a stop too,
// so it watches nothing but this limit.
constexpr std::chrono::milliseconds kCancelSilenceLimit{3000};

// Watches stop for as long as it lives, then nothing: the signal may be
// gone after the call that brought it.
class Watching {
  public:
    Watching(cupsutil::RequestGuard& guard, const StopSignal& stop) : guard_(guard) {
        guard_.Watch(stop);
    }
    ~Watching() { guard_.WatchNothing(); }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;

  private:
    cupsutil::RequestGuard& guard_;
};

class CupsPrinter final : public Printer {
  public:
    CupsPrinter(cupsutil::BoundedHttp http, Dest dest, DestInfo info, const PageGeometry& geometry)
        : http_(std::move(http)),
          dest_(std::move(dest)),
          info_(std::move(info)),
          geometry_(geometry) {}

    const PageGeometry& Geometry() const override { return geometry_; }

    using Printer::Print;
    Result<int> Print(const std::string& docName, PageWriter& page, const StopSignal& stop,
                      const JobCreated& created) override {
        // A cancel dropped the connection: the destination must be opened again.
        if (!http_.Connection) {
            return {
                0, Status::Failure(HF_ERR_UNREACHABLE, "the connection to the printer was closed")};
        }
        Watching watching(*http_.Guard, stop);
        try {
            return Send(docName, page, stop, created);
        } catch (...) {
            // std::bad_alloc building the options or the name
            return {0, Status::Failure(HF_ERR_JOB_FAILED, "out of memory")};
        }
    }

  private:
    Result<int> Send(const std::string& docName, PageWriter& page, const StopSignal& stop,
                     const JobCreated& created) {
        if (stop.Requested()) {
            return {0, Status::Failure(HF_ERR_UNREACHABLE, "stopped before the job was sent")};
        }
        // What `lp` sends: the destination's options (the user's lpoptions
        // included), plus no scaling, since the page is already to size.
        Options options;
        for (int i = 0; i < dest_->num_options; ++i) {
            options.Set(dest_->options[i].name, dest_->options[i].value);
        }
        options.Set("print-scaling", "none");

        const std::string title = ToJobName(docName);
        const std::int64_t asked = std::time(nullptr);
        int jobId = 0;
        const ipp_status_t made = cupsCreateDestJob(http_.get(), dest_.get(), info_.get(), &jobId,
                                                    title.c_str(), options.Count(), options.Get());
        if (!Succeeded(made) || jobId <= 0) {
            const Status failure = cupsutil::RequestFailure(*http_.Guard, HF_ERR_JOB_FAILED);
            if (jobId > 0) return Fail(jobId, failure);
            if (!http_.Guard->GaveUp()) CancelUnanswered(title, asked, stop);
            return {0, failure};
        }
        // What names the job for good, told before its document goes: a
        // caller that records it can follow the job whatever happens next.
        if (created) created(cupsutil::ReadTicket(http_.get(), jobId));
        if (cupsStartDestDocument(http_.get(), dest_.get(), info_.get(), jobId, title.c_str(),
                                  CUPS_FORMAT_PDF, 0, nullptr, 1) != HTTP_STATUS_CONTINUE) {
            return Fail(jobId, cupsutil::RequestFailure(*http_.Guard, HF_ERR_JOB_FAILED));
        }
        // The page is decoded as it goes into the request: a file found
        // damaged part way leaves a document cut short, and the job is
        // cancelled before the scheduler processes it.
        const Status written = page.Write(
            geometry_,
            [this, &stop](const unsigned char* data, std::size_t size) {
                return !stop.Requested() &&
                       cupsWriteRequestData(http_.get(), reinterpret_cast<const char*>(data),
                                            size) == HTTP_STATUS_CONTINUE;
            },
            stop);
        if (!written.Ok()) {
            if (stop.Requested()) {
                return Fail(jobId,
                            Status::Failure(HF_ERR_UNREACHABLE, "stopped while the page was sent"));
            }
            // The scheduler that stopped taking bytes is to blame, not the
            // file; any other failure is the writer's, given as it is.
            const bool refused = written.Code == HF_ERR_JOB_FAILED &&
                                 (http_.Guard->GaveUp() || httpError(http_.get()) != 0);
            return Fail(jobId, refused ? cupsutil::RequestFailure(*http_.Guard, HF_ERR_UNREACHABLE)
                                       : written);
        }
        if (!Succeeded(cupsFinishDestDocument(http_.get(), dest_.get(), info_.get()))) {
            return Fail(jobId, cupsutil::RequestFailure(*http_.Guard, HF_ERR_JOB_FAILED));
        }
        return {jobId, {}};
    }

    // A job that cannot be cancelled may still print, and one that had
    // already completed has printed: its id goes back with the failure, so
    // the caller follows it instead of sending the file again.
    Result<int> Fail(int jobId, Status why) {
        const std::string named = "job " + std::to_string(jobId);
        switch (Cancel(jobId)) {
            case Cancelled::Yes:
                return {0, std::move(why)};
            case Cancelled::NoItCompleted:
                why.Reason += "; " + named + " had already completed";
                break;
            case Cancelled::No:
                why.Reason += "; " + named + " could not be cancelled";
                break;
        }
        return {jobId, std::move(why)};
    }

    // A job request whose answer was lost (the connection closed under it)
    // may still have made the job, which then waits without its document
    // until the scheduler gives up on it, many minutes on. Such a job of
    // this name and this user, made since the request, is that one: a file
    // goes out as one job at a time. Not after a silence or a stop, which
    // would only be waited for again.
    void CancelUnanswered(const std::string& title, std::int64_t asked, const StopSignal& stop) {
        http_.Connection.reset();
        // A minute's leeway for a scheduler whose clock is a little behind.
        const Result<std::vector<FoundJob>> found =
            cupsutil::FindJobs(dest_->name, title, asked - 60, stop);
        for (const FoundJob& job : found.Value) {
            if (job.Status.State == JobState::Pending && job.Status.Documentless) {
                Cancel(job.Ticket.Id);
            }
        }
    }

    enum class Cancelled {
        Yes,            // cancelled, or it had ended without printing
        NoItCompleted,  // it had already ended, and completed: it printed
        No,             // it may still print
    };

    // Drops the connection first: a document cut off in the middle of its
    // request is then discarded by the scheduler instead of being completed
    // and printed. The job is cancelled over a fresh connection, bounded in
    // time but not by the stop: a stop is the very reason to cancel.
    Cancelled Cancel(int jobId) {
        http_.Connection.reset();
        const NeverStop never;
        const Result<cupsutil::BoundedHttp> http =
            cupsutil::ConnectBounded(never, kCancelSilenceLimit, kCancelSilenceLimit);
        if (!http.Ok()) return Cancelled::No;
        const ipp_status_t status = cupsCancelDestJob(http.Value.get(), dest_.get(), jobId);
        if (Succeeded(status)) return Cancelled::Yes;
        if (status != IPP_STATUS_ERROR_NOT_POSSIBLE) return Cancelled::No;
        // The job has already ended: how it ended says whether it printed.
        // The scheduler may have taken the whole page even though the send
        // failed, and completed the job before the cancel came.
        const JobStatus ended =
            cupsutil::QueryJob(http.Value, dest_->name, JobTicket{jobId, {}, 0});
        if (ended.State == JobState::Failed) return Cancelled::Yes;  // cancelled or aborted
        if (ended.State == JobState::Completed) return Cancelled::NoItCompleted;
        return Cancelled::No;
    }

    cupsutil::BoundedHttp http_;
    Dest dest_;
    DestInfo info_;
    PageGeometry geometry_;
};

Result<std::unique_ptr<Printer>> OpenOrThrow(const std::string& printerName,
                                             const std::vector<NamedValue>& options,
                                             const StopSignal& stop) {
    Result<cupsutil::FoundDest> found = cupsutil::ConnectAndFind(printerName, stop);
    if (!found.Ok()) return {nullptr, found.Error};
    cupsutil::RequestGuard& guard = *found.Value.Http.Guard;
    // The job's options become the destination's own: the page is read by
    // them and every job sends them.
    cupsutil::LayerOptions(found.Value.Destination.get(), options);
    const Reading read = Read(found.Value.Context(), options, printerName);
    if (guard.GaveUp()) return {nullptr, Status::Failure(HF_ERR_UNREACHABLE, guard.Why())};
    if (!read.Offered.Ok()) return {nullptr, read.Offered};
    const std::optional<PageGeometry>& geometry = read.Page;
    if (!geometry) {
        return {nullptr, Status::Failure(HF_ERR_NO_PAGE_SIZE,
                                         "'" + printerName +
                                             "' gives no usable page size and resolution "
                                             "(a raw queue, or a size it does not offer)")};
    }
    guard.WatchNothing();  // stop may be gone once Open returns
    return {std::make_unique<CupsPrinter>(std::move(found.Value.Http),
                                          std::move(found.Value.Destination),
                                          std::move(found.Value.Info), *geometry),
            {}};
}

}  // namespace

Result<std::unique_ptr<Printer>> CupsSpooler::Open(const std::string& printerName,
                                                   const StopSignal& stop) {
    return OpenWith(printerName, {}, stop);
}

Result<std::unique_ptr<Printer>> CupsSpooler::OpenWith(const std::string& printerName,
                                                       const std::vector<NamedValue>& options,
                                                       const StopSignal& stop) {
    try {
        return OpenOrThrow(printerName, options, stop);
    } catch (...) {
        return {nullptr, Status::Failure(HF_ERR_PRINTER, "out of memory")};
    }
}

JobStatus CupsSpooler::QueryJob(const std::string& printerName, const JobTicket& job,
                                const StopSignal& stop) {
    try {
        return cupsutil::QueryJob(printerName, job, stop);
    } catch (...) {
        return {JobState::Unknown, "out of memory", false};
    }
}

Result<std::vector<FoundJob>> CupsSpooler::FindJobs(const std::string& printerName,
                                                    const std::string& docName,
                                                    std::int64_t notBefore,
                                                    const StopSignal& stop) {
    try {
        return cupsutil::FindJobs(printerName, ToJobName(docName), notBefore, stop);
    } catch (...) {
        return {{}, Status::Failure(HF_ERR_UNREACHABLE, "out of memory")};
    }
}

Status CupsSpooler::CancelJob(const std::string&, int jobId, const StopSignal& stop) {
    try {
        return cupsutil::CancelJob(jobId, stop);
    } catch (...) {
        return Status::Failure(HF_ERR_UNREACHABLE, "out of memory");
    }
}

namespace {
constexpr std::chrono::milliseconds kConditionLimit{5000};
}  // namespace

Result<PrinterCondition> CupsSpooler::Condition(const std::string& printerName,
                                                const StopSignal& stop) {
    try {
        const std::optional<cupsutil::DestName> name = cupsutil::SplitName(printerName);
        if (!name) {
            return {
                {},
                Status::Failure(HF_ERR_PRINTER, "'" + printerName + "' is not a printer's name")};
        }
        // A question asked before every scan's printing: a scheduler that
        // does not answer it soon leaves printing to find out why, rather
        // than holding every scan for the full limit.
        Result<cupsutil::BoundedHttp> http =
            cupsutil::ConnectBounded(stop, kConditionLimit, kConditionLimit);
        if (!http.Ok()) return {{}, http.Error};
        const cupsutil::RequestGuard& guard = *http.Value.Guard;
        const Dest dest = cupsutil::FindDest(http.Value.get(), *name);
        if (!dest) {
            const Status failure = cupsutil::RequestFailure(guard, HF_ERR_PRINTER);
            if (failure.Code == HF_ERR_UNREACHABLE) return {{}, failure};
            return {{},
                    Status::Failure(HF_ERR_PRINTER, "the scheduler knows no printer or class '" +
                                                        printerName + "'")};
        }
        return cupsutil::ReadCondition(http.Value.get(), guard, dest.get());
    } catch (...) {
        return {{}, Status::Failure(HF_ERR_UNREACHABLE, "out of memory")};
    }
}

std::string ToJobName(const std::string& fileName) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD
    std::string name;
    name.reserve(std::min(fileName.size(), kMaxNameBytes));
    const auto* bytes = reinterpret_cast<const unsigned char*>(fileName.data());
    const std::size_t n = fileName.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char lead = bytes[i];
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t minimum = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
            minimum = 0x10000;
        }
        bool valid = length > 0 && i + length <= n;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = bytes[i + k];
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        valid = valid && code >= minimum && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        const bool control = valid && (code < 0x20 || code == 0x7F);

        const std::string_view piece = valid && !control
                                           ? std::string_view(fileName).substr(i, length)
                                           : std::string_view(kReplacement, 3);
        if (name.size() + piece.size() > kMaxNameBytes) break;
        name.append(piece);
        i += valid ? length : 1;
    }
    return name;
}

}  // namespace tallowin
