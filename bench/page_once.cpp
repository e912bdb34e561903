// One page of one image file, written the streamed way to a file, with the
// 600 dpi test queue's geometry unless told otherwise. The size on paper is
// given, so no printer is needed. Built a second time with
// TALLOWIN_PAGE_LEGACY as tallowin-page-legacy, which writes today's page
// (libvips render + cairo) instead; two programs, so that each loads only
// the libraries its own path needs.
//
//   tallowin-page-once --serve [OPTIONS]   (lines "FILE TW TH OUT" on standard input)
//   tallowin-page-once FILE TW TH OUT [--flate-level N] [--strip-rows N] [--ring N]
//                      [--dpi R] [--media WPT HPT LEFTPT TOPPT]
//
// OUT of the form cups:QUEUE sends the page as a job to QUEUE (CUPS_SERVER
// honoured) as it is made, the way the print job will: create the job, start
// its document, stream the page into the request, cancel the job on failure.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include <cups/cups.h>

#include "platform/page_stream.h"
#ifdef TALLOWIN_PAGE_LEGACY
#include "tests/support/legacy_page.h"
#endif

using namespace tallowin;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

#ifndef TALLOWIN_PAGE_LEGACY
// The page as one job on queue: the document's bytes go into the IPP
// request as they come; a failure cancels the job so nothing prints.
int SendToQueue(const char* queue, PageSource& source, const PageGeometry& g,
                const PageStreamOptions& options) {
    const int job = cupsCreateJob(CUPS_HTTP_DEFAULT, queue, "tallowin-page-once", 0, nullptr);
    if (job <= 0) {
        std::fprintf(stderr, "create job: %s\n", cupsLastErrorString());
        return 1;
    }
    if (cupsStartDocument(CUPS_HTTP_DEFAULT, queue, job, "page", CUPS_FORMAT_PDF, 1) !=
        HTTP_STATUS_CONTINUE) {
        std::fprintf(stderr, "start document: %s\n", cupsLastErrorString());
        cupsCancelJob2(CUPS_HTTP_DEFAULT, queue, job, 0);
        return 1;
    }
    const Status done = StreamPage(
        source, g,
        [](const unsigned char* d, std::size_t n) {
            return cupsWriteRequestData(CUPS_HTTP_DEFAULT, reinterpret_cast<const char*>(d), n) ==
                   HTTP_STATUS_CONTINUE;
        },
        {}, options);
    const ipp_status_t finished = cupsFinishDocument(CUPS_HTTP_DEFAULT, queue);
    if (!done.Ok() || finished > IPP_STATUS_OK_CONFLICTING) {
        std::fprintf(stderr, "%s\n", done.Ok() ? cupsLastErrorString() : done.Reason.c_str());
        cupsCancelJob2(CUPS_HTTP_DEFAULT, queue, job, 0);
        return 1;
    }
    return 0;
}

#endif

int Usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s FILE TW TH OUT [--flate-level N] [--strip-rows N] [--ring N] "
                 "[--dpi R] [--media WPT HPT LEFTPT TOPPT]\n",
                 self);
    return 2;
}

// One page of file, tw x th, to out (a file, or cups:QUEUE).
int RunOne(const std::string& file, int tw, int th, const std::string& out, PageGeometry g,
           const PageStreamOptions& options) {
    g.Pw = tw;
    g.Ph = th;
#ifndef TALLOWIN_PAGE_LEGACY
    if (out.starts_with("cups:")) {
        const FdCloser fd{::open(file.c_str(), O_RDONLY | O_CLOEXEC)};
        Result<std::unique_ptr<PageSource>> source = PageSource::Open(fd.fd, tw, th);
        if (!source.Ok()) {
            std::fprintf(stderr, "%s\n", source.Error.Reason.c_str());
            return 1;
        }
        return SendToQueue(out.c_str() + 5, *source.Value, g, options);
    }
#endif
    const std::unique_ptr<std::FILE, FileCloser> f(std::fopen(out.c_str(), "wb"));
    if (!f) return 1;
    const auto sink = [&](const unsigned char* d, std::size_t n) {
        return std::fwrite(d, 1, n, f.get()) == n;
    };
#ifdef TALLOWIN_PAGE_LEGACY
    (void)options;
    return legacy::WritePage(file, g, tw, th, sink) ? 0 : 1;
#else
    const FdCloser fd{::open(file.c_str(), O_RDONLY | O_CLOEXEC)};
    if (fd.fd < 0) return 1;
    Result<std::unique_ptr<PageSource>> source = PageSource::Open(fd.fd, tw, th);
    if (!source.Ok()) {
        std::fprintf(stderr, "%s\n", source.Error.Reason.c_str());
        return 1;
    }
    const Status done = StreamPage(*source.Value, g, sink, {}, options);
    if (!done.Ok()) {
        std::fprintf(stderr, "%s\n", done.Reason.c_str());
        return 1;
    }
    return std::fflush(f.get()) == 0 ? 0 : 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    // --serve: the process stays, as the application does, and makes one
    // page for every line "FILE TW TH OUT" read from standard input,
    // answering "ok" or "failed" on a line of its own.
    const bool serve = argc >= 2 && std::strcmp(argv[1], "--serve") == 0;
    const int first = serve ? 2 : 5;
    if (!serve && argc < 5) return Usage(argv[0]);
    // tallowin-600: 8.5 x 11.5 in, 0.25 in margins.
    PageGeometry g;
    g.Rx = g.Ry = 600;
    g.MediaWidthPt = 612;
    g.MediaHeightPt = 828;
    g.LeftPt = g.TopPt = 18;
    PageStreamOptions options;
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--flate-level" && i + 1 < argc) {
            options.FlateLevel = std::atoi(argv[++i]);
        } else if (a == "--strip-rows" && i + 1 < argc) {
            options.StripRows = std::atoi(argv[++i]);
        } else if (a == "--ring" && i + 1 < argc) {
            options.RingSlots = static_cast<std::size_t>(std::atoi(argv[++i]));
        } else if (a == "--dpi" && i + 1 < argc) {
            g.Rx = g.Ry = std::atoi(argv[++i]);
        } else if (a == "--media" && i + 4 < argc) {
            g.MediaWidthPt = std::atof(argv[++i]);
            g.MediaHeightPt = std::atof(argv[++i]);
            g.LeftPt = std::atof(argv[++i]);
            g.TopPt = std::atof(argv[++i]);
        } else {
            return Usage(argv[0]);
        }
    }
    if (!serve) return RunOne(argv[1], std::atoi(argv[2]), std::atoi(argv[3]), argv[4], g, options);

    char buf[4096];
    while (std::fgets(buf, sizeof buf, stdin) != nullptr) {
        std::istringstream fields(buf);
        std::string file, out;
        int tw = 0, th = 0;
        if (!(fields >> file >> tw >> th >> out)) break;
        const int rc = RunOne(file, tw, th, out, g, options);
        std::printf("%s\n", rc == 0 ? "ok" : "failed");
        std::fflush(stdout);
    }
    return 0;
}
