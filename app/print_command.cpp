#include "app/print_command.h"

#include <algorithm>

#include "engine/print_job.h"

namespace tallowin {

namespace {

// A failure as one line: what is wrong, then the library's own words.
std::string Describe(const Status& failure, const std::string& printerName) {
    switch (failure.Code) {
        case HF_ERR_NOT_IMAGE:
            return "not an image, or a format that cannot be read: " + failure.Reason;
        case HF_ERR_DAMAGED:
            return "damaged or incomplete picture: " + failure.Reason;
        case HF_ERR_TOO_LARGE:
            return "picture too large: " + failure.Reason;
        case HF_ERR_PROTECTED:
            return "protected document: " + failure.Reason;
        case HF_ERR_NO_PAGES:
            return "document without pages: " + failure.Reason;
        case HF_ERR_SETTINGS:
            return "print settings: " + failure.Reason;
        case HF_ERR_PRINTER:
        case HF_ERR_UNREACHABLE:
        case HF_ERR_NO_PAGE_SIZE:
        case HF_ERR_JOB_FAILED:
            return "printer " + printerName + ": " + failure.Reason;
        default:
            return failure.Reason;
    }
}

// A job this run waits for: one it sent, or one an earlier run sent whose
// outcome was not seen then.
struct SentJob {
    std::string Path;
    FileIdentity File;
    JobTicket Job;
};

// The one place that asks the scheduler about a job.
JobStatus AskAbout(Spooler& spooler, const std::string& printer, const SentJob& job,
                   const StopSignal& stop) {
    return spooler.QueryJob(printer, job.Job, stop);
}

// One run of the command: sends every file, then waits for the jobs.
class PrintRun {
  public:
    PrintRun(const PrintRequest& request, PrintServices& services)
        : request_(request), s_(services) {}

    int Run(const WaitLimits& limits) {
        if (!s_.record.ReadError().empty()) {
            s_.err << "tallowin: the record of printed files (" << s_.record.Path()
                   << ") cannot be read: " << s_.record.ReadError()
                   << "; printing without it, and leaving it as it is\n";
        }
        for (const std::string& path : request_.Files) Take(path);
        // Not waiting, a job the scheduler took is done.
        if (request_.Wait) Await(limits);
        if (notPrinted_) return kPrintNotPrinted;
        return unconfirmed_ ? kPrintUnconfirmed : kPrintAllDone;
    }

  private:
    void Line(const std::string& path, const std::string& text) {
        s_.err << "tallowin: " << path << ": " << text << "\n";
    }
    void Fail(const std::string& path, const std::string& why) {
        Line(path, why);
        notPrinted_ = true;
    }
    void Unconfirmed(const std::string& path, const std::string& why) {
        Line(path, why);
        unconfirmed_ = true;
    }
    std::string OnPrinter(int jobId) const {
        return "job " + std::to_string(jobId) + " on " + request_.Printer;
    }
    // A record that could not be stored does not change what was printed;
    // it only makes the next run of the command decide without it.
    void Stored(bool stored, const std::string& path) {
        if (stored || !s_.record.ReadError().empty()) return;  // said once, at the start
        Line(path, "the record of printed files (" + s_.record.Path() + ") could not be written");
    }

    // The engine's print job, with the record asked before the printer is
    // opened: a file printed before is not sent again.
    void Take(const std::string& path) {
        using End = PrintJobResult::End;
        FileIdentity file;
        JobTicket created;
        PrintJobSteps steps;
        steps.BeforeOpen = [&](const Image& image) -> Result<Proceed> {
            file = image.Identity();
            const auto mark = s_.record.Find(request_.Printer, file);
            return {mark && Settled(path, file, *mark) ? Proceed::Skip : Proceed::Go, {}};
        };
        steps.Created = [&](const JobTicket& t) { created = t; };
        steps.Settings = &request_.Settings;
        std::unique_ptr<Printer> printer;
        const PrintJobResult job = RunPrintJob(s_.images, s_.spooler, path, request_.Printer,
                                               printer, s_.interrupt, steps);
        switch (job.Outcome) {
            case End::Skipped:
                return;
            case End::Stopped:
                return Fail(path, "not sent: interrupted");
            case End::Failed:
                return Fail(path, Describe(job.Why, request_.Printer));
            case End::Sent:
            case End::Unsure:
                break;
        }
        if (created.Id != job.JobId) created = JobTicket{job.JobId, {}, 0};
        const SentJob sent{path, file, created};
        Stored(s_.record.MarkSent(request_.Printer, sent.File, sent.Job), path);
        sent_.push_back(sent);
        if (job.Outcome == End::Sent) return;
        // Its cancel did not get through: the job may print all the same.
        const std::string why = "sending failed (" + Describe(job.Why, request_.Printer) +
                                "), yet " + OnPrinter(job.JobId) + " may print";
        if (request_.Wait) {
            Line(path, why + "; waiting for it");
        } else {
            Unconfirmed(path, why);
        }
    }

    // True when the record's word on the file means it is not sent now.
    bool Settled(const std::string& path, const FileIdentity& file, const PrintRecord::Mark& mark) {
        if (mark.State == PrintRecord::Mark::Stage::Printed) {
            Line(path, "already printed on " + request_.Printer + " unchanged; not printed again");
            return true;
        }
        const SentJob earlier{path, file, mark.Job()};
        if (std::ranges::any_of(sent_, [&](const SentJob& j) { return j.Job.Id == mark.JobId; })) {
            Line(path, "given twice; sent once");
            return true;
        }
        const JobStatus status = AskAbout(s_.spooler, request_.Printer, earlier, s_.interrupt);
        switch (status.State) {
            case JobState::Completed:
                Stored(s_.record.MarkPrinted(request_.Printer, file), path);
                Line(path, "already printed on " + request_.Printer + " as job " +
                               std::to_string(mark.JobId) + ", unchanged; not printed again");
                return true;
            case JobState::Failed:
            case JobState::Gone:
                // A job the scheduler no longer knows (its queue deleted, its
                // history lost) is taken as not printed, as the hot folders
                // take it.
                Line(path, "its earlier " + OnPrinter(mark.JobId) + " did not print (" +
                               status.Reason + "); sending it again");
                Stored(s_.record.Forget(request_.Printer, file), path);
                return false;
            case JobState::Pending:
                Line(path, "sent earlier as " + OnPrinter(mark.JobId) +
                               ", not finished yet; not sent again");
                sent_.push_back(earlier);
                return true;
            case JobState::Unknown:
                break;
        }
        Unconfirmed(path, "sent earlier as " + OnPrinter(mark.JobId) +
                              ", whose outcome the scheduler cannot tell (" + status.Reason +
                              "); not sent again: change the file to print it again");
        return true;
    }

    void Await(const WaitLimits& limits) {
        if (sent_.empty()) return;
        std::vector<JobStatus> states(sent_.size());
        const WaitEnd end = AwaitJobs(
            [this](std::size_t i) {
                return AskAbout(s_.spooler, request_.Printer, sent_[i], s_.interrupt);
            },
            states, s_.clock, s_.interrupt, limits);
        for (std::size_t i = 0; i < sent_.size(); ++i) Conclude(sent_[i], states[i], end, limits);
    }

    void Conclude(const SentJob& job, const JobStatus& status, WaitEnd end,
                  const WaitLimits& limits) {
        switch (status.State) {
            case JobState::Completed:
                Stored(s_.record.MarkPrinted(request_.Printer, job.File), job.Path);
                return;
            case JobState::Failed:
            case JobState::Gone:
                Stored(s_.record.Forget(request_.Printer, job.File), job.Path);
                return Fail(job.Path, OnPrinter(job.Job.Id) + " did not print: " + status.Reason);
            case JobState::Pending:
            case JobState::Unknown:
                break;
        }
        // Still recorded as sent: the next run asks about it again.
        std::string why = OnPrinter(job.Job.Id) + " not finished ";
        why += end == WaitEnd::Interrupted ? std::string("when interrupted")
                                           : "when no job had ended for " +
                                                 std::to_string(limits.QuietLimitMs / 1000) + " s";
        if (status.State == JobState::Unknown && !status.Reason.empty()) {
            why += " (the scheduler cannot tell: " + status.Reason + ")";
        }
        Unconfirmed(job.Path, why +
                                  "; it may still print, and running the command again asks "
                                  "about it rather than sending it again");
    }

    const PrintRequest& request_;
    PrintServices& s_;
    std::vector<SentJob> sent_;  // in the order sent; waited for with Wait
    bool notPrinted_ = false;
    bool unconfirmed_ = false;
};

}  // namespace

int RunPrintCommand(const PrintRequest& request, PrintServices& services,
                    const WaitLimits& limits) {
    return PrintRun(request, services).Run(limits);
}

}  // namespace tallowin
