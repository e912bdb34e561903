// Small fakes of the platform services for the engine's tests.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/platform_services.h"

// A clock the test moves by hand; wrap-around included.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(std::uint32_t now = 0) : now_(now) {}
    std::uint32_t Now() override { return now_; }
    void Set(std::uint32_t now) { now_ = now; }
    void Advance(std::uint32_t ms) { now_ += ms; }

  private:
    std::uint32_t now_;
};

// Folders and their listings as the test says they are.
class FakeLister final : public FolderLister {
  public:
    std::set<std::string> folders;
    std::map<std::string, Listing> listings;
    int listCalls = 0;

    bool IsFolder(const std::string& path) override { return folders.count(path) != 0; }
    Listing List(const std::string& path) override {
        ++listCalls;
        auto it = listings.find(path);
        return it == listings.end() ? Listing{} : it->second;
    }
};

// An image of a given size and resolution that never touches a disk.
class FakeImage final : public Image {
  public:
    FakeImage(int w, int h, int dx, int dy, bool renders)
        : w_(w), h_(h), dx_(dx), dy_(dy), renders_(renders) {}
    int Width() const override { return w_; }
    int Height() const override { return h_; }
    int XDpi() const override { return dx_; }
    int YDpi() const override { return dy_; }
    const FileIdentity& Identity() const override { return identity_; }
    std::optional<PageImage> Render(int width, int height) override {
        if (!renders_) return std::nullopt;
        PageImage p;
        p.Format = PageImage::Encoding::Bgrx;
        p.Width = width;
        p.Height = height;
        p.Stride = 4 * width;
        return p;
    }
    FileIdentity identity_{1, 2, 3, 4};

  private:
    int w_, h_, dx_, dy_;
    bool renders_;
};

// Loads any path listed in `images`; every other path fails like a file that
// is not an image.
class FakeImageLoader final : public ImageLoader {
  public:
    struct Entry {
        int w = 100, h = 100, dx = 0, dy = 0;
        bool renders = true;
    };
    std::map<std::string, Entry> images;
    std::vector<std::string> loaded;  // every path asked for, in order

    std::unique_ptr<Image> Load(const std::string& path) override {
        loaded.push_back(path);
        auto it = images.find(path);
        if (it == images.end()) return nullptr;
        const Entry& e = it->second;
        return std::make_unique<FakeImage>(e.w, e.h, e.dx, e.dy, e.renders);
    }
};

// A printer that records every job instead of printing it.
class RecordingSpooler final : public Spooler {
  public:
    struct Job {
        std::string printer;
        std::string docName;
        int width = 0, height = 0;
        std::int32_t stateWhilePrinting = -1;
    };
    PageGeometry geometry{600, 600, 4800, 6600, 612, 828, 18, 18};
    std::set<std::string> printers{"printer"};
    bool failPrint = false;
    std::vector<std::string> opened;
    std::vector<Job> jobs;
    // Read while a job prints, to see what the user interface would see.
    std::function<std::int32_t()> stateProbe;

    std::unique_ptr<Printer> Open(const std::string& name) override;
};

class RecordingPrinter final : public Printer {
  public:
    RecordingPrinter(RecordingSpooler& spooler, std::string name)
        : spooler_(spooler), name_(std::move(name)) {}
    const PageGeometry& Geometry() const override { return spooler_.geometry; }
    bool Print(const std::string& docName, const PageImage& image) override {
        if (spooler_.failPrint) return false;
        RecordingSpooler::Job job{name_, docName, image.Width, image.Height, -1};
        if (spooler_.stateProbe) job.stateWhilePrinting = spooler_.stateProbe();
        spooler_.jobs.push_back(job);
        return true;
    }

  private:
    RecordingSpooler& spooler_;
    std::string name_;
};

inline std::unique_ptr<Printer> RecordingSpooler::Open(const std::string& name) {
    opened.push_back(name);
    if (printers.count(name) == 0) return nullptr;
    return std::make_unique<RecordingPrinter>(*this, name);
}

// Records deletions; deletes nothing.
class RecordingRemover final : public FileRemover {
  public:
    std::vector<std::string> removed;
    bool RemoveIfSame(const std::string& path, const FileIdentity&) override {
        removed.push_back(path);
        return true;
    }
};
