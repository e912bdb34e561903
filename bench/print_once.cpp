// One whole print job of one image file, the way a hot folder prints it:
// load, fit, then the page streamed as it is decoded and resampled. The file is never
// deleted, so the same input can be timed again and again.
//
//   tallowin-print-once FILE QUEUE            prints on QUEUE (CUPS_SERVER honoured)
//   tallowin-print-once FILE QUEUE --pdf OUT  writes the document to OUT instead,
//                                             with QUEUE's page geometry
//   tallowin-print-once FILE QUEUE --size     prints the size on paper "Tw Th" only
//   tallowin-print-once --serve QUEUE         a process that stays, as the
//                                             application does: prints each
//                                             file named on a line of stdin on
//                                             QUEUE, answering "ok" or "failed"
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "cups/cups_spooler.h"
#include "engine/hot_folder.h"
#include "engine/page_fit.h"
#include "os/folder_listing.h"
#include "os/tick.h"
#include "page/vips_image.h"

using namespace tallowin;

namespace {

class FilePrinter final : public Printer {
  public:
    FilePrinter(PageGeometry geometry, std::string out)
        : geometry_(geometry), out_(std::move(out)) {}
    const PageGeometry& Geometry() const override { return geometry_; }
    using Printer::Print;
    Result<int> Print(const std::string&, PageWriter& page, const StopSignal& stop,
                      const JobCreated&) override {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(out_.c_str(), "wb"),
                                                          &std::fclose);
        if (!f) return {0, Status::Failure(HF_ERR_JOB_FAILED, "cannot write " + out_)};
        const Status written = page.Write(
            geometry_,
            [&](const unsigned char* d, std::size_t n) {
                return std::fwrite(d, 1, n, f.get()) == n;
            },
            stop);
        if (!written.Ok()) return {0, written};
        if (std::fflush(f.get()) != 0) {
            return {0, Status::Failure(HF_ERR_JOB_FAILED, "cannot write " + out_)};
        }
        return {1, {}};
    }

  private:
    PageGeometry geometry_;
    std::string out_;
};

// Takes the geometry from the real queue, then writes to a file.
class FileSpooler final : public Spooler {
  public:
    explicit FileSpooler(std::string out) : out_(std::move(out)) {}
    Result<std::unique_ptr<Printer>> Open(const std::string& name,
                                          const StopSignal& stop) override {
        Result<std::unique_ptr<Printer>> real = CupsSpooler().Open(name, stop);
        if (!real.Ok()) return real;
        return {std::make_unique<FilePrinter>(real.Value->Geometry(), out_), {}};
    }
    // The "job" is the file, complete once written.
    JobStatus QueryJob(const std::string&, const JobTicket&, const StopSignal&) override {
        return {JobState::Completed, {}};
    }
    Result<std::vector<FoundJob>> FindJobs(const std::string&, const std::string&, std::int64_t,
                                           const StopSignal&) override {
        return {};
    }
    Status CancelJob(const std::string&, int, const StopSignal&) override { return {}; }
    Result<PrinterCondition> Condition(const std::string&, const StopSignal&) override {
        return {};
    }

  private:
    std::string out_;
};

class KeepFiles final : public FileRemover {
  public:
    Status RemoveIfSame(const std::string&, const FileIdentity&) override {
        return Status::Failure(HF_ERR_NOT_DELETED, "the benchmark keeps its input");
    }
};

// One run, one process: the ledger needs no file.
class MemoryLedger final : public JobLedger {
  public:
    std::optional<JobRecord> Find(const std::string& folder,
                                  const std::string& file) const override {
        const auto it = records_.find({folder, file});
        if (it == records_.end()) return std::nullopt;
        return it->second;
    }
    std::vector<JobRecord> InFolder(const std::string& folder) const override {
        std::vector<JobRecord> found;
        for (const auto& [key, record] : records_) {
            if (key.first == folder) found.push_back(record);
        }
        return found;
    }
    Status Put(const JobRecord& record) override {
        records_[{record.FolderPath, record.FileName}] = record;
        return Status::Success();
    }
    Status Update(const JobRecord& record) override { return Put(record); }
    Status Erase(const std::string& folder, const std::string& file) override {
        records_.erase({folder, file});
        return Status::Success();
    }
    bool RecordsLost() const override { return false; }

  private:
    std::map<std::pair<std::string, std::string>, JobRecord> records_;
};

class NoLog final : public PrintLog {
  public:
    void Record(const PrintLogEntry&) override {}
};

}  // namespace

// One whole print job of file on spooler's queue, with nothing kept from an
// earlier one but the process: true when the job was sent.
bool PrintOnce(const std::string& file, const std::string& queue, ImageLoader& images,
               Spooler& spooler) {
    MonotonicClock clock;
    PosixFolderLister lister;
    KeepFiles remover;
    MemoryLedger ledger;
    NoLog log;
    EngineServices services{clock, lister, images, spooler, remover, ledger, log};
    HotFolder folder("bench", "", queue, 5);
    folder.SetRunning();
    NeverStop stop;
    folder.PrintFile(services, file, stop);
    return folder.GetError() == HF_ERR_NONE;
}

int main(int argc, char** argv) {
    const char* usage = "usage: %s FILE QUEUE [--pdf OUT | --size] | --serve QUEUE\n";
    if (argc < 3) {
        std::fprintf(stderr, usage, argv[0]);
        return 2;
    }
    VipsImageLoader images;
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0) {
        CupsSpooler spooler;
        for (std::string file; std::getline(std::cin, file);) {
            std::cout << (PrintOnce(file, argv[2], images, spooler) ? "ok" : "failed") << std::endl;
        }
        return 0;
    }
    const std::string file = argv[1], queue = argv[2];
    if (argc == 4 && std::strcmp(argv[3], "--size") == 0) {
        const Result<std::unique_ptr<Image>> loaded = images.Load(file);
        const Result<std::unique_ptr<Printer>> opened = CupsSpooler().Open(queue, NeverStop());
        if (!loaded.Ok() || !opened.Ok()) {
            std::fprintf(stderr, "%s\n",
                         (loaded.Ok() ? opened.Error.Reason : loaded.Error.Reason).c_str());
            return 1;
        }
        const std::unique_ptr<Image>& image = loaded.Value;
        const std::unique_ptr<Printer>& printer = opened.Value;
        const PageGeometry& g = printer->Geometry();
        const FitResult fit = FitToPage({image->Width(), image->Height(), image->XDpi(),
                                         image->YDpi(), g.Rx, g.Ry, g.Pw, g.Ph});
        std::printf("%d %d %d %d\n", fit.Tw, fit.Th, image->Width(), image->Height());
        return 0;
    }
    std::unique_ptr<Spooler> spooler;
    if (argc == 5 && std::strcmp(argv[3], "--pdf") == 0) {
        spooler = std::make_unique<FileSpooler>(argv[4]);
    } else if (argc == 3) {
        spooler = std::make_unique<CupsSpooler>();
    } else {
        std::fprintf(stderr, usage, argv[0]);
        return 2;
    }
    if (!PrintOnce(file, queue, images, *spooler)) {
        std::fprintf(stderr, "printer failed\n");
        return 1;
    }
    return 0;
}
