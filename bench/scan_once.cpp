// One scan of one folder, as the worker does it: list the regular files and
// build the file table, with the claims of a service that may share the
// folder with other hosts (its first scan of a folder looks for claims an
// earlier run left). Prints the number of files found.
//   tallowin-scan-once FOLDER
#include <cstdio>

#include "engine/file_claims.h"
#include "engine/hot_folder.h"
#include "os/claim_folder.h"
#include "os/folder_listing.h"
#include "os/tick.h"

using namespace tallowin;

namespace {

// Nothing is printed by a first scan; these are never called, but for the
// (empty) job records of the folder.
class NoImages final : public ImageLoader {
  public:
    Result<std::unique_ptr<Image>> Load(const std::string&) override {
        return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE, "none")};
    }
};
class NoSpooler final : public Spooler {
  public:
    Result<std::unique_ptr<Printer>> Open(const std::string&, const StopSignal&) override {
        return {nullptr, Status::Failure(HF_ERR_PRINTER, "none")};
    }
    JobStatus QueryJob(const std::string&, const JobTicket&, const StopSignal&) override {
        return {};
    }
    Result<std::vector<FoundJob>> FindJobs(const std::string&, const std::string&, std::int64_t,
                                           const StopSignal&) override {
        return {};
    }
    Status CancelJob(const std::string&, int, const StopSignal&) override { return {}; }
    Result<PrinterCondition> Condition(const std::string&, const StopSignal&) override {
        return {};
    }
};
class NoRemover final : public FileRemover {
  public:
    Status RemoveIfSame(const std::string&, const FileIdentity&) override {
        return Status::Failure(HF_ERR_NOT_DELETED, "none");
    }
};
class NoLedger final : public JobLedger {
  public:
    std::optional<JobRecord> Find(const std::string&, const std::string&) const override {
        return std::nullopt;
    }
    std::vector<JobRecord> InFolder(const std::string&) const override { return {}; }
    Status Put(const JobRecord&) override { return {}; }
    Status Update(const JobRecord&) override { return {}; }
    Status Erase(const std::string&, const std::string&) override { return {}; }
    bool RecordsLost() const override { return false; }
};
class NoLog final : public PrintLog {
  public:
    void Record(const PrintLogEntry&) override {}
};
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    MonotonicClock clock;
    PosixFolderLister lister;
    NoImages images;
    NoSpooler spooler;
    NoRemover remover;
    NoLedger ledger;
    NoLog log;
    NeverStop stop;
    PosixClaimFolder claimFolder;
    FileClaims claims(claimFolder, clock, ThisProcessOwner("/nonexistent/jobs.tsv"));
    EngineServices services{clock, lister, images, spooler, remover, ledger, log, &claims};
    HotFolder folder("bench", argv[1], "none", 5);
    folder.Reset(clock);
    folder.SetRunning();
    folder.Scan(services, stop);
    if (folder.GetState() != HF_STATE_RUNNING) {
        std::fprintf(stderr, "not a folder: %s\n", argv[1]);
        return 1;
    }
    std::printf("%zu\n", folder.GetFiles().size());
    return 0;
}
