// Small fakes of the platform services for the engine's tests. Each one
// takes a lock around its state, so the worker thread and a test may share
// them.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "engine/ports/services.h"
#include "tests/support/placed_image.h"
#include "tests/support/stop_flag.h"

using namespace tallowin;

// A clock the test moves by hand; wrap-around included.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(std::uint32_t now = 0) : now_(now) {}
    std::uint32_t Now() override { return now_; }
    void Set(std::uint32_t now) { now_ = now; }
    void Advance(std::uint32_t ms) { now_ += ms; }

  private:
    std::atomic<std::uint32_t> now_;
};

// Folders and their listings as the test says they are: each folder added
// is one of its own unless it is added as the same as another. With
// realFolders, FindFolder asks the disk (listings stay the test's).
class FakeLister final : public FolderLister {
  public:
    bool realFolders = false;

    void AddFolder(const std::string& path) {
        std::lock_guard g(m_);
        folders_.insert_or_assign(path, FolderKey{0, ++lastInode_});
    }
    // path leads to the folder that `same` leads to (a link, a second spelling).
    void AddFolderAs(const std::string& path, const std::string& same) {
        std::lock_guard g(m_);
        folders_.insert_or_assign(path, folders_.at(same));
    }
    void RemoveFolder(const std::string& path) {
        std::lock_guard g(m_);
        folders_.erase(path);
    }
    // Adds or replaces a file; the listing stays sorted.
    void Put(const std::string& folder, const ListedFile& file) {
        std::lock_guard g(m_);
        Listing& l = listings_[folder];
        auto it =
            std::lower_bound(l.begin(), l.end(), file.Name,
                             [](const ListedFile& f, const std::string& n) { return f.Name < n; });
        if (it != l.end() && it->Name == file.Name) {
            *it = file;
        } else {
            l.insert(it, file);
        }
    }
    void Remove(const std::string& folder, const std::string& name) {
        std::lock_guard g(m_);
        std::erase_if(listings_[folder], [&](const ListedFile& f) { return f.Name == name; });
    }
    void SetProbe(const std::string& path, WriterProbe probe) {
        std::lock_guard g(m_);
        probes_[path] = probe;
    }
    int ListCalls() const {
        std::lock_guard g(m_);
        return listCalls_;
    }

    std::optional<FolderKey> FindFolder(const std::string& path) override {
        if (realFolders) {
            struct stat st {};
            if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
            return FolderKey{st.st_dev, st.st_ino};
        }
        std::lock_guard g(m_);
        const auto it = folders_.find(path);
        if (it == folders_.end()) return std::nullopt;
        return it->second;
    }
    Listing List(const std::string& path) override {
        std::lock_guard g(m_);
        ++listCalls_;
        auto it = listings_.find(path);
        return it == listings_.end() ? Listing{} : it->second;
    }
    WriterProbe ProbeWriter(const std::string& path) override {
        std::lock_guard g(m_);
        auto it = probes_.find(path);
        return it == probes_.end() ? WriterProbe::NotOpen : it->second;
    }

  private:
    mutable std::mutex m_;
    std::map<std::string, FolderKey> folders_;
    std::uint64_t lastInode_ = 0;
    std::map<std::string, Listing> listings_;
    std::map<std::string, WriterProbe> probes_;
    int listCalls_ = 0;
};

// A page of a given size on paper whose Write gives a chosen status, as a
// file found damaged while it streams does, after sending its head: just
// enough of a document for a printer to read the image's size from.
class FakePageWriter final : public PageWriter {
  public:
    FakePageWriter(int width, int height, Status writes)
        : width_(width), height_(height), writes_(std::move(writes)) {}
    Status Write(const PageGeometry&, const ByteSink& sink, const StopSignal&) override {
        const std::string head = "%PDF-1.4\n<< /Type /XObject /Subtype /Image /Width " +
                                 std::to_string(width_) + " /Height " + std::to_string(height_) +
                                 " >>\n";
        if (sink && !sink(reinterpret_cast<const unsigned char*>(head.data()), head.size())) {
            return Status::Failure(HF_ERR_JOB_FAILED, "the sink refused");
        }
        return writes_;
    }

  private:
    int width_, height_;
    Status writes_;
};

// An image of a given size and resolution that never touches a disk.
class FakeImage final : public Image {
  public:
    FakeImage(int w, int h, int dx, int dy, Status renders = {}, FileIdentity identity = {},
              Status writes = {}, bool document = false)
        : w_(w),
          h_(h),
          dx_(dx),
          dy_(dy),
          renders_(std::move(renders)),
          writes_(std::move(writes)),
          identity_(identity),
          document_(document) {}
    int Width() const override { return w_; }
    int Height() const override { return h_; }
    int XDpi() const override { return dx_; }
    int YDpi() const override { return dy_; }
    const FileIdentity& Identity() const override { return identity_; }
    Result<std::unique_ptr<PageWriter>> Page(int width, int height) override {
        if (document_) return {nullptr, Status::Failure(HF_ERR_JOB_FAILED, "a document")};
        if (!renders_.Ok()) return {nullptr, renders_};
        return {std::make_unique<FakePageWriter>(width, height, writes_), {}};
    }
    // A document's writer: its "image" is the printable area it was given.
    bool IsDocument() const override { return document_; }
    Result<std::unique_ptr<PageWriter>> Document(const PageGeometry& g) override {
        if (!document_) return Image::Document(g);
        if (!renders_.Ok()) return {nullptr, renders_};
        return {std::make_unique<FakePageWriter>(g.Pw, g.Ph, writes_), {}};
    }

  private:
    int w_, h_, dx_, dy_;
    Status renders_;
    Status writes_;
    FileIdentity identity_;
    bool document_;
};

// Loads any path listed in `images`; every other path fails like a file that
// is not an image.
class FakeImageLoader final : public ImageLoader {
  public:
    struct Entry {
        int w = 100, h = 100, dx = 0, dy = 0;
        Status load;    // a failure here fails Load
        Status render;  // a failure here fails Page
        Status write;   // a failure here fails the page's Write (inside Print)
        FileIdentity identity;
        bool document = false;  // a document of pages (IsDocument)
    };
    void Set(const std::string& path, Entry entry) {
        std::lock_guard g(m_);
        images_[path] = std::move(entry);
    }
    std::vector<std::string> Loaded() const {
        std::lock_guard g(m_);
        return loaded_;
    }

    Result<std::unique_ptr<Image>> Load(const std::string& path) override {
        std::lock_guard g(m_);
        loaded_.push_back(path);
        auto it = images_.find(path);
        if (it == images_.end()) return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE, "no image")};
        const Entry& e = it->second;
        if (!e.load.Ok()) return {nullptr, e.load};
        return {std::make_unique<FakeImage>(e.w, e.h, e.dx, e.dy, e.render, e.identity, e.write,
                                            e.document),
                {}};
    }

  private:
    mutable std::mutex m_;
    std::map<std::string, Entry> images_;
    std::vector<std::string> loaded_;
};

// A spooler that records every job instead of printing it, and a scheduler
// table of the jobs it holds. Jobs take ids from 1 up, the uuid
// "urn:uuid:<era>-<id>" (the era counts the times the scheduler lost its
// history) and the state newJobState; the test moves them on with SetJob.
class RecordingSpooler final : public Spooler {
  public:
    struct Job {
        std::string printer;
        std::string docName;
        int width = 0, height = 0;
        std::int32_t stateWhilePrinting = -1;
        int id = 0;
    };
    PageGeometry geometry{600, 600, 4800, 6600, 612, 828, 18, 18};
    std::set<std::string> printers{"printer"};
    Status openFailure;   // set: Open fails so, for every printer
    Status printFailure;  // set: Print fails so
    JobState newJobState = JobState::Completed;
    // Read while a job prints, to see what the user interface would see.
    std::function<std::int32_t()> stateProbe;
    // Called inside Print, after the job is recorded (a stop, a gate).
    std::function<void(const std::string& docName)> onPrint;
    std::atomic<bool> reachable{true};          // false: every question goes unanswered
    std::atomic<std::int64_t> now{2000000000};  // the scheduler's clock, seconds since 1970

    void SetJob(int id, JobState state, std::string reason = {}, bool documentless = false) {
        std::lock_guard g(m_);
        table_[id].status = {state, std::move(reason), documentless};
    }
    // A job the scheduler holds that this spooler's printers did not make
    // (an earlier run's); returns its id.
    int AddJob(const std::string& printer, const std::string& docName, JobStatus status,
               std::int64_t createdAt) {
        std::lock_guard g(m_);
        const int id = NewJob(printer, docName, createdAt);
        table_[id].status = std::move(status);
        return id;
    }
    // The scheduler loses its jobs and its history: ids start again at 1.
    void Forget() {
        std::lock_guard g(m_);
        table_.clear();
        nextId_ = 1;
        ++era_;
    }
    JobTicket Ticket(int id) const {
        std::lock_guard g(m_);
        const auto it = table_.find(id);
        return it == table_.end() ? JobTicket{id, {}, 0}
                                  : JobTicket{id, it->second.uuid, it->second.createdAt};
    }
    std::vector<Job> Jobs() const {
        std::lock_guard g(m_);
        return jobs_;
    }
    std::vector<std::string> Opened() const {
        std::lock_guard g(m_);
        return opened_;
    }
    int Queries() const {
        std::lock_guard g(m_);
        return queries_;
    }
    int Searches() const {
        std::lock_guard g(m_);
        return searches_;
    }
    std::vector<int> Cancelled() const {
        std::lock_guard g(m_);
        return cancelled_;
    }

    Result<std::unique_ptr<Printer>> Open(const std::string& name, const StopSignal&) override;
    // Records the options of each Open that has them, then opens as above.
    Result<std::unique_ptr<Printer>> OpenWith(const std::string& name,
                                              const std::vector<NamedValue>& options,
                                              const StopSignal& stop) override {
        {
            std::lock_guard g(m_);
            openedWith_.push_back(options);
        }
        return Open(name, stop);
    }
    std::vector<std::vector<NamedValue>> OpenedWith() const {
        std::lock_guard g(m_);
        return openedWith_;
    }
    JobStatus QueryJob(const std::string& printer, const JobTicket& job,
                       const StopSignal&) override {
        std::lock_guard g(m_);
        ++queries_;
        if (!reachable) return {JobState::Unknown, "unreachable"};
        const auto it = table_.find(job.Id);
        if (it == table_.end() || it->second.printer != printer ||
            (!job.Uuid.empty() && it->second.uuid != job.Uuid)) {
            return {JobState::Gone, "not found"};
        }
        return it->second.status;
    }
    Result<std::vector<FoundJob>> FindJobs(const std::string& printer, const std::string& docName,
                                           std::int64_t notBefore, const StopSignal&) override {
        std::lock_guard g(m_);
        ++searches_;
        if (!reachable) return {{}, Status::Failure(HF_ERR_UNREACHABLE, "unreachable")};
        std::vector<FoundJob> found;
        for (const auto& [id, job] : table_) {
            if (job.printer == printer && job.docName == docName && job.createdAt >= notBefore) {
                found.push_back({JobTicket{id, job.uuid, job.createdAt}, job.status});
            }
        }
        return {found, {}};
    }
    Status CancelJob(const std::string&, int jobId, const StopSignal&) override {
        std::lock_guard g(m_);
        if (!reachable) return Status::Failure(HF_ERR_UNREACHABLE, "unreachable");
        cancelled_.push_back(jobId);
        const auto it = table_.find(jobId);
        if (it == table_.end() || it->second.status.State != JobState::Pending) {
            return Status::Failure(HF_ERR_JOB_FAILED, "not possible");
        }
        it->second.status.State = JobState::Failed;
        return {};
    }
    // What Condition says of every printer: idle and accepting unless a test
    // says otherwise; unreachable when the scheduler is.
    Result<PrinterCondition> Condition(const std::string& printer, const StopSignal&) override {
        std::lock_guard g(m_);
        ++conditionsAsked_;
        if (!reachable) return {{}, Status::Failure(HF_ERR_UNREACHABLE, "unreachable")};
        const auto it = conditions_.find(printer);
        return {it == conditions_.end() ? PrinterCondition{} : it->second, {}};
    }
    void SetCondition(const std::string& printer, PrinterCondition condition) {
        std::lock_guard g(m_);
        conditions_[printer] = std::move(condition);
    }
    int ConditionsAsked() const {
        std::lock_guard g(m_);
        return conditionsAsked_;
    }

  private:
    std::map<std::string, PrinterCondition> conditions_;
    int conditionsAsked_ = 0;
    friend class RecordingPrinter;
    struct Held {
        std::string printer, docName, uuid;
        std::int64_t createdAt = 0;
        JobStatus status;
    };
    // With m_ held.
    int NewJob(const std::string& printer, const std::string& docName, std::int64_t createdAt) {
        const int id = nextId_++;
        table_[id] = {printer, docName,
                      "urn:uuid:" + std::to_string(era_) + "-" + std::to_string(id), createdAt,
                      JobStatus{newJobState, {}, false}};
        return id;
    }
    mutable std::mutex m_;
    std::vector<std::string> opened_;
    std::vector<std::vector<NamedValue>> openedWith_;
    std::vector<Job> jobs_;
    std::map<int, Held> table_;
    int nextId_ = 1;
    int era_ = 0;
    int queries_ = 0;
    int searches_ = 0;
    std::vector<int> cancelled_;
};

class RecordingPrinter final : public Printer {
  public:
    RecordingPrinter(RecordingSpooler& spooler, std::string name)
        : spooler_(spooler), name_(std::move(name)) {}
    const PageGeometry& Geometry() const override { return spooler_.geometry; }
    using Printer::Print;
    Result<int> Print(const std::string& docName, PageWriter& page, const StopSignal& stop,
                      const JobCreated& created) override {
        RecordingSpooler::Job job{name_, docName, 0, 0, -1, 0};
        if (spooler_.stateProbe) job.stateWhilePrinting = spooler_.stateProbe();
        if (!spooler_.printFailure.Ok()) return {0, spooler_.printFailure};
        JobTicket ticket;
        {
            std::lock_guard g(spooler_.m_);
            ticket.Id = spooler_.NewJob(name_, docName, spooler_.now);
            ticket.Uuid = spooler_.table_[ticket.Id].uuid;
            ticket.CreatedAt = spooler_.now;
            // Without its document until the page is written.
            spooler_.table_[ticket.Id].status = {JobState::Pending, {}, true};
        }
        if (created) created(ticket);
        // The page is written into the job, as the real adapter does; its
        // failure cancels the job and comes back as it is. Only the head is
        // kept: it gives the image's size.
        std::string head;
        const Status written = page.Write(
            spooler_.geometry,
            [&head](const unsigned char* data, std::size_t size) {
                if (head.size() < 4096) head.append(reinterpret_cast<const char*>(data), size);
                return true;
            },
            stop);
        {
            std::lock_guard g(spooler_.m_);
            auto& held = spooler_.table_[ticket.Id];
            if (!written.Ok()) {
                held.status = {JobState::Failed, "job-canceled-by-user", true};
                return {0, written};
            }
            held.status = {spooler_.newJobState, {}, false};
            std::tie(job.width, job.height) =
                PlacedImageSize(head, spooler_.geometry.Rx, spooler_.geometry.Ry);
            job.id = ticket.Id;
            spooler_.jobs_.push_back(job);
        }
        if (spooler_.onPrint) spooler_.onPrint(docName);
        return {job.id, {}};
    }

  private:
    RecordingSpooler& spooler_;
    std::string name_;
};

inline Result<std::unique_ptr<Printer>> RecordingSpooler::Open(const std::string& name,
                                                               const StopSignal&) {
    {
        std::lock_guard g(m_);
        opened_.push_back(name);
    }
    if (!openFailure.Ok()) return {nullptr, openFailure};
    if (printers.count(name) == 0) {
        return {nullptr, Status::Failure(HF_ERR_PRINTER, "no such printer")};
    }
    return {std::make_unique<RecordingPrinter>(*this, name), {}};
}

// Records deletions and takes the file out of lister's listing (when given).
// With failure set, every deletion fails.
class RecordingRemover final : public FileRemover {
  public:
    Status failure;
    FakeLister* lister = nullptr;
    std::vector<std::string> Removed() const {
        std::lock_guard g(m_);
        return removed_;
    }
    Status RemoveIfSame(const std::string& path, const FileIdentity&) override {
        if (!failure.Ok()) return failure;
        if (lister != nullptr) {
            const std::size_t slash = path.rfind('/');
            lister->Remove(path.substr(0, slash), path.substr(slash + 1));
        }
        std::lock_guard g(m_);
        removed_.push_back(path);
        return {};
    }

  private:
    mutable std::mutex m_;
    std::vector<std::string> removed_;
};

// The job ledger in memory; outlives the hot folders that use it, like the
// file it stands for.
class FakeLedger final : public JobLedger {
  public:
    std::atomic<bool> lost{false};  // RecordsLost
    // Set: every Put and Erase fails so and changes nothing (a full disk).
    Status storeFailure;

    std::optional<JobRecord> Find(const std::string& folderPath,
                                  const std::string& fileName) const override {
        std::lock_guard g(m_);
        auto it = records_.find({folderPath, fileName});
        if (it == records_.end()) return std::nullopt;
        return it->second;
    }
    std::vector<JobRecord> InFolder(const std::string& folderPath) const override {
        std::lock_guard g(m_);
        std::vector<JobRecord> out;
        for (const auto& [key, record] : records_) {
            if (key.first == folderPath) out.push_back(record);
        }
        return out;
    }
    Status Put(const JobRecord& record) override {
        Status stored = Update(record);
        std::lock_guard g(m_);
        if (stored.Ok()) flushed_ = records_;
        return stored;
    }
    Status Update(const JobRecord& record) override {
        std::lock_guard g(m_);
        if (!storeFailure.Ok()) return storeFailure;
        records_[{record.FolderPath, record.FileName}] = record;
        return {};
    }
    Status Erase(const std::string& folderPath, const std::string& fileName) override {
        std::lock_guard g(m_);
        if (!storeFailure.Ok()) return storeFailure;
        records_.erase({folderPath, fileName});
        return {};
    }
    bool RecordsLost() const override { return lost; }
    // What a power cut leaves: the records of the last Put.
    void PowerCut() {
        std::lock_guard g(m_);
        records_ = flushed_;
    }

  private:
    mutable std::mutex m_;
    std::map<std::pair<std::string, std::string>, JobRecord> records_, flushed_;
};

// Keeps every entry, in order.
class RecordingLog final : public PrintLog {
  public:
    void Record(const PrintLogEntry& entry) override {
        std::lock_guard g(m_);
        entries_.push_back(entry);
    }
    std::vector<PrintLogEntry> Entries() const {
        std::lock_guard g(m_);
        return entries_;
    }
    std::vector<PrintLogEntry::Outcome> Outcomes() const {
        std::lock_guard g(m_);
        std::vector<PrintLogEntry::Outcome> out;
        for (const PrintLogEntry& e : entries_) out.push_back(e.Result);
        return out;
    }

  private:
    mutable std::mutex m_;
    std::vector<PrintLogEntry> entries_;
};

// One of each fake, and the services made of them.
struct FakeServices {
    FakeClock clock{1000};
    FakeLister lister;
    FakeImageLoader images;
    RecordingSpooler spooler;
    RecordingRemover remover;
    FakeLedger ledger;
    RecordingLog log;
    EngineServices services{clock, lister, images, spooler, remover, ledger, log};

    FakeServices() { remover.lister = &lister; }
};

// A listed file whose identity is made of a number (the inode) and its size.
inline ListedFile Listed(std::string name, std::uint32_t size, std::uint64_t inode = 1,
                         std::int64_t modifiedNs = 0) {
    return {std::move(name), size, FileIdentity{1, inode, size, modifiedNs}};
}

// Holds every job inside Print while closed (hand Pass to the spooler's
// onPrint); records the jobs that reached it, in order.
class PrintGate {
  public:
    void Pass(const std::string& docName) {
        std::unique_lock lock(m_);
        begun_.push_back(docName);
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    void Close() {
        std::lock_guard g(m_);
        open_ = false;
    }
    void Open() {
        std::lock_guard g(m_);
        open_ = true;
        changed_.notify_all();
    }
    // Waits (30 s at most) until n jobs have reached the gate.
    bool WaitForJobs(std::size_t n) {
        std::unique_lock lock(m_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return begun_.size() >= n; });
    }
    std::vector<std::string> Begun() const {
        std::lock_guard g(m_);
        return begun_;
    }

  private:
    mutable std::mutex m_;
    std::condition_variable changed_;
    std::vector<std::string> begun_;
    bool open_ = true;
};
