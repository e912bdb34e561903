#include "cups/cups_spooler.h"

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/answer_tampering_proxy.h"
#include "tests/support/images.h"
#include "tests/support/pdf_page.h"
#include "tests/support/process.h"
#include "tests/support/sandbox.h"
#include "tests/support/sandbox_jobs.h"
#include "tests/support/stop_flag.h"
#include "tests/support/temp_dir.h"

using namespace tallowin;

namespace {

// A name no other test program prints under, so that captured jobs can be
// told apart while other programs print on the same queues.
std::string UniqueName(const std::string& stem, const std::string& suffix) {
    static int counter = 0;
    return stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + suffix;
}

// A job known by its id alone.
JobTicket Id(int id) {
    return {id, {}, 0};
}

std::shared_ptr<const std::uint8_t> Share(std::string bytes) {
    auto owner = std::make_shared<std::string>(std::move(bytes));
    return {owner, reinterpret_cast<const std::uint8_t*>(owner->data())};
}

PageImage BgrxImage(int w, int h) {
    std::string rows(static_cast<std::size_t>(w) * h * 4, '\0');
    for (std::size_t i = 0; i < rows.size(); i += 4) {
        rows[i] = static_cast<char>(i / 4 % 251);  // B
        rows[i + 1] = 90;                          // G
        rows[i + 2] = static_cast<char>(200);      // R
    }
    PageImage image;
    image.Format = PageImage::Encoding::Bgrx;
    image.Width = w;
    image.Height = h;
    image.Stride = w * 4;
    image.Size = rows.size();
    image.Data = Share(std::move(rows));
    return image;
}

PageImage JpegImage(const TempDir& dir, int w, int h) {
    const std::string path = dir / "image.jpg";
    testimages::Recipe picture;
    picture.Width = w;
    picture.Height = h;
    testimages::Write(path, picture);
    PageImage image;
    image.Format = PageImage::Encoding::Jpeg;
    image.Width = w;
    image.Height = h;
    std::string bytes = ReadFile(path);
    image.Size = bytes.size();
    image.Data = Share(std::move(bytes));
    return image;
}

// The page of a whole image in memory, laid out by cairo; or, given a
// failure, a page that fails part way as a file found damaged does.
class ImagePage final : public PageWriter {
  public:
    explicit ImagePage(PageImage image, Status failsPartWay = {})
        : image_(std::move(image)), fails_(std::move(failsPartWay)) {}
    Status Write(const PageGeometry& g, const ByteSink& sink, const StopSignal& stop) override {
        std::size_t sent = 0;
        const bool whole = WritePdfPage(g, image_, [&](const unsigned char* data, std::size_t n) {
            if (stop.Requested()) return false;
            // A failing page stops after its first bytes, so the scheduler
            // has a document cut short.
            if (!fails_.Ok() && sent > 0) return false;
            sent += n;
            return sink(data, n);
        });
        if (!fails_.Ok()) return fails_;
        if (stop.Requested()) return Status::Failure(HF_ERR_UNREACHABLE, "stop requested");
        return whole ? Status::Success()
                     : Status::Failure(HF_ERR_JOB_FAILED, "the page could not be written");
    }

  private:
    PageImage image_;
    Status fails_;
};

std::string PdfOf(const PageGeometry& g, const PageImage& image) {
    std::string bytes;
    EXPECT_TRUE(WritePdfPage(g, image, [&bytes](const unsigned char* data, std::size_t size) {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    }));
    return bytes;
}

// The captured job of queue titled title, waiting for the backend to finish
// it. Other programs may print on the same queue meanwhile.
std::optional<sandbox::CapturedJob> CapturedJobTitled(const std::string& queue,
                                                      const std::string& title) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        for (sandbox::CapturedJob& job : sandbox::WaitForJobs(queue, 0, 0)) {
            if (job.Title == title) return job;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// The state of the scheduler's job on queue titled title (IPP_JSTATE_*), 0
// when there is none; asked over http, else where CUPS_SERVER leads.
int JobStateOf(const std::string& queue, const std::string& title,
               http_t* http = CUPS_HTTP_DEFAULT) {
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(http, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
    int state = 0;
    for (int i = 0; i < count; ++i) {
        if (jobs[i].title != nullptr && title == jobs[i].title) state = jobs[i].state;
    }
    cupsFreeJobs(count, jobs);
    return state;
}

bool HasOption(const std::string& options, const std::string& option) {
    std::istringstream words(options);
    std::string word;
    while (words >> word) {
        if (word == option) return true;
    }
    return false;
}

class CupsSpoolerTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { sandbox::Home(); }

    void SetUp() override {
        ASSERT_FALSE(sandbox::Server().empty());
        sandbox::SetLpoptions("");
    }
    void TearDown() override { sandbox::SetLpoptions(""); }

    // The printer, or null when Open failed; a failure always says why.
    std::unique_ptr<Printer> Open(const std::string& name) {
        Result<std::unique_ptr<Printer>> printer = spooler_.Open(name, never_);
        if (!printer.Ok()) {
            EXPECT_FALSE(printer.Error.Reason.empty()) << "a failure without a reason";
            return nullptr;
        }
        EXPECT_NE(printer.Value, nullptr);
        return std::move(printer.Value);
    }

    // The job id, or 0 when Print failed; a failure always says why.
    int Print(Printer& printer, const std::string& docName, const PageImage& image) {
        ImagePage page(image);
        return Print(printer, docName, page);
    }
    int Print(Printer& printer, const std::string& docName, PageWriter& page) {
        const Result<int> job = printer.Print(docName, page, never_);
        if (!job.Ok()) {
            EXPECT_FALSE(job.Error.Reason.empty()) << "a failure without a reason";
            return 0;
        }
        EXPECT_GT(job.Value, 0);
        return job.Value;
    }

    // Asks until the job leaves Pending (or 30 s pass).
    JobStatus SettledState(const std::string& queue, int jobId) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        JobStatus status = spooler_.QueryJob(queue, Id(jobId), never_);
        while (status.State == JobState::Pending && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            status = spooler_.QueryJob(queue, Id(jobId), never_);
        }
        return status;
    }

    StopFlag never_;
    CupsSpooler spooler_;
};

struct GeometryCase {
    const char* Name;
    const char* Queue;
    const char* Lpoptions;  // the user's lpoptions file
    int Rx, Ry, Pw, Ph;
    double MediaWidthPt, MediaHeightPt, LeftPt, TopPt;
};

const GeometryCase kGeometryCases[] = {
    {"600_defaults", "tallowin-600", "", 600, 600, 4800, 6600, 612, 828, 18, 18},
    {"300_defaults_letter_with_margins", "tallowin-300", "", 300, 300, 2400, 3150, 612, 792, 18,
     18},
    {"600_media_ppd_name_Letter", "tallowin-600", "Dest tallowin-600 media=Letter\n", 600, 600,
     4800, 6300, 612, 792, 18, 18},
    {"600_media_pwg_name", "tallowin-600", "Dest tallowin-600 media=na_letter_8.5x11in\n", 600, 600,
     4800, 6300, 612, 792, 18, 18},
    // As wide as the default: found by its name, not by its width.
    {"600_media_queue_ppd_size", "tallowin-600", "Dest tallowin-600 media=Tallowin85x13\n", 600,
     600, 4800, 7500, 612, 936, 18, 18},
    {"600_pagesize_option", "tallowin-600", "Dest tallowin-600 PageSize=Tallowin85x13\n", 600, 600,
     4800, 7500, 612, 936, 18, 18},
    {"600_media_list_type_then_size", "tallowin-600",
     "Dest tallowin-600 media=Glossy,na_letter_8.5x11in\n", 600, 600, 4800, 6300, 612, 792, 18, 18},
    {"600_media_type_only_keeps_default", "tallowin-600", "Dest tallowin-600 media=Glossy\n", 600,
     600, 4800, 6600, 612, 828, 18, 18},
    {"300_media_A4_from_ppd_points", "tallowin-300", "Dest tallowin-300 media=A4\n", 300, 300, 2329,
     3358, 20990 * 72.0 / 2540, 29704 * 72.0 / 2540, 18, 18},
    {"600_landscape_orientation_requested", "tallowin-600",
     "Dest tallowin-600 orientation-requested=4\n", 600, 600, 6600, 4800, 828, 612, 18, 18},
    {"600_reverse_landscape", "tallowin-600", "Dest tallowin-600 orientation-requested=5\n", 600,
     600, 6600, 4800, 828, 612, 18, 18},
    {"600_landscape_option", "tallowin-600", "Dest tallowin-600 landscape\n", 600, 600, 6600, 4800,
     828, 612, 18, 18},
    {"600_portrait_requested", "tallowin-600", "Dest tallowin-600 orientation-requested=3\n", 600,
     600, 4800, 6600, 612, 828, 18, 18},
    {"600_resolution_300dpi", "tallowin-600", "Dest tallowin-600 printer-resolution=300dpi\n", 300,
     300, 2400, 3300, 612, 828, 18, 18},
    {"600_resolution_across_by_down", "tallowin-600",
     "Dest tallowin-600 printer-resolution=600x300dpi\n", 600, 300, 4800, 3300, 612, 828, 18, 18},
    {"600_resolution_ppd_style", "tallowin-600", "Dest tallowin-600 Resolution=300dpi\n", 300, 300,
     2400, 3300, 612, 828, 18, 18},
    {"600_resolution_dots_per_cm", "tallowin-600", "Dest tallowin-600 printer-resolution=118dpcm\n",
     300, 300, 2400, 3300, 612, 828, 18, 18},
    {"600_resolution_unreadable_keeps_default", "tallowin-600",
     "Dest tallowin-600 printer-resolution=fast\n", 600, 600, 4800, 6600, 612, 828, 18, 18},
    {"600_landscape_turns_the_resolution", "tallowin-600",
     "Dest tallowin-600 orientation-requested=4 printer-resolution=600x300dpi\n", 300, 600, 3300,
     4800, 828, 612, 18, 18},
    {"600_landscape_on_chosen_media", "tallowin-600",
     "Dest tallowin-600 media=Tallowin85x13 orientation-requested=4\n", 600, 600, 7500, 4800, 936,
     612, 18, 18},
    {"options_of_another_queue_do_not_apply", "tallowin-600", "Dest tallowin-300 media=A4\n", 600,
     600, 4800, 6600, 612, 828, 18, 18},
    {"instance_has_its_own_options", "tallowin-600/tall",
     "Dest tallowin-600/tall media=Tallowin85x13\n", 600, 600, 4800, 7500, 612, 936, 18, 18},
    {"queue_without_instance_ignores_instance_options", "tallowin-600",
     "Dest tallowin-600/tall media=Tallowin85x13\n", 600, 600, 4800, 6600, 612, 828, 18, 18},
    // A pool prints at the page its members share: 300 dpi, the Letter
    // sheet of tallowin-300 (smaller than tallowin-600's 8.5 x 11.5 in).
    {"pool_of_600_and_300", "tallowin-pool", "", 300, 300, 2400, 3150, 612, 792, 18, 18},
    // With A4 on tallowin-300 the narrowest width is A4's, the shortest
    // length tallowin-600's at 300 dpi, and the sheet A4 (the smaller area).
    {"pool_members_with_their_own_options", "tallowin-pool", "Dest tallowin-300 media=A4\n", 300,
     300, 2329, 3300, 20990 * 72.0 / 2540, 29704 * 72.0 / 2540, 18, 18},
    // As for lp: an instance lpoptions does not define is the plain queue.
    {"undefined_instance_is_the_queue", "tallowin-600/nosuch", "", 600, 600, 4800, 6600, 612, 828,
     18, 18},
};

TEST_F(CupsSpoolerTest, ReadsThePageFromTheDestinationAndTheUsersOptions) {
    for (const GeometryCase& c : kGeometryCases) {
        SCOPED_TRACE(c.Name);
        sandbox::SetLpoptions(c.Lpoptions);
        const std::unique_ptr<Printer> printer = Open(c.Queue);
        ASSERT_NE(printer, nullptr);
        const PageGeometry& g = printer->Geometry();
        EXPECT_EQ(g.Rx, c.Rx);
        EXPECT_EQ(g.Ry, c.Ry);
        EXPECT_EQ(g.Pw, c.Pw);
        EXPECT_EQ(g.Ph, c.Ph);
        EXPECT_NEAR(g.MediaWidthPt, c.MediaWidthPt, 0.001);
        EXPECT_NEAR(g.MediaHeightPt, c.MediaHeightPt, 0.001);
        EXPECT_NEAR(g.LeftPt, c.LeftPt, 0.001);
        EXPECT_NEAR(g.TopPt, c.TopPt, 0.001);
    }
}

TEST_F(CupsSpoolerTest, RefusesWhatItCannotPrintOn) {
    struct Case {
        const char* Name;
        const char* Queue;
        const char* Lpoptions;
        HotFolderError Code;
    };
    const Case cases[] = {
        {"missing_queue", "tallowin-no-such-queue", "", HF_ERR_PRINTER},
        // Empty would make libcups pick the default printer.
        {"empty_name", "", "", HF_ERR_PRINTER},
        {"empty_instance", "tallowin-600/", "", HF_ERR_PRINTER},
        // A raw queue says neither its media nor its resolution.
        {"raw_queue", "tallowin-raw", "", HF_ERR_NO_PAGE_SIZE},
        {"raw_queue_even_with_a_media_choice", "tallowin-raw", "Dest tallowin-raw media=Letter\n",
         HF_ERR_NO_PAGE_SIZE},
        // A size the printer does not offer: its margins are unknown.
        {"media_not_offered", "tallowin-600", "Dest tallowin-600 media=A4\n", HF_ERR_NO_PAGE_SIZE},
        {"pagesize_not_offered", "tallowin-300", "Dest tallowin-300 PageSize=Legal\n",
         HF_ERR_NO_PAGE_SIZE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        sandbox::SetLpoptions(c.Lpoptions);
        const Result<std::unique_ptr<Printer>> printer = spooler_.Open(c.Queue, never_);
        EXPECT_EQ(printer.Value, nullptr);
        EXPECT_EQ(printer.Error.Code, c.Code) << printer.Error.Reason;
        EXPECT_FALSE(printer.Error.Reason.empty());
    }
}

TEST_F(CupsSpoolerTest, AJobsMediaIsItsPageAndMustBeOfferedByEveryMember) {
    struct Case {
        const char* Name;
        const char* Queue;
        const char* Lpoptions;
        std::vector<NamedValue> Options;
        HotFolderError Code;
        double MediaHeightPt;  // when opened
        const char* Named;     // in the reason, when refused
    };
    const Case cases[] = {
        {"media_over_lpoptions",
         "tallowin-600",
         "Dest tallowin-600 PageSize=Tallowin85x13\n",
         {{"media", "Letter"}},
         HF_ERR_NONE,
         792,
         ""},
        {"pool_all_offer_it",
         "tallowin-pool",
         "",
         {{"media", "na_letter_8.5x11in"}},
         HF_ERR_NONE,
         792,
         ""},
        {"pool_one_lacks_it",
         "tallowin-pool",
         "",
         {{"media", "A4"}},
         HF_ERR_SETTINGS,
         0,
         "tallowin-600"},
        {"tray_not_offered",
         "tallowin-600",
         "",
         {{"media-source", "top"}},
         HF_ERR_SETTINGS,
         0,
         "media-source top"},
        {"tray_offered", "tallowin-trays", "", {{"media-source", "bottom"}}, HF_ERR_NONE, 828, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        sandbox::SetLpoptions(c.Lpoptions);
        const Result<std::unique_ptr<Printer>> printer =
            spooler_.OpenWith(c.Queue, c.Options, never_);
        EXPECT_EQ(printer.Error.Code, c.Code) << printer.Error.Reason;
        if (c.Code != HF_ERR_NONE) {
            EXPECT_NE(printer.Error.Reason.find(c.Named), std::string::npos)
                << printer.Error.Reason;
            continue;
        }
        ASSERT_NE(printer.Value, nullptr);
        EXPECT_NEAR(printer.Value->Geometry().MediaHeightPt, c.MediaHeightPt, 0.001);
    }
    sandbox::SetLpoptions("");
}

// Points CUPS_SERVER somewhere else for as long as it lives.
class ServerOverride {
  public:
    explicit ServerOverride(const std::string& server) : saved_(sandbox::Server()) {
        setenv("CUPS_SERVER", server.c_str(), 1);
        cupsSetServer(nullptr);  // forget the server libcups already read
    }
    ~ServerOverride() {
        setenv("CUPS_SERVER", saved_.c_str(), 1);
        cupsSetServer(nullptr);
    }
    ServerOverride(const ServerOverride&) = delete;
    ServerOverride& operator=(const ServerOverride&) = delete;

  private:
    std::string saved_;
};

TEST_F(CupsSpoolerTest, AnUnreachableSchedulerGivesNoPrinter) {
    TempDir dir;
    {
        const ServerOverride gone(dir / "no-such.sock");
        const Result<std::unique_ptr<Printer>> printer = spooler_.Open(sandbox::kQueue600, never_);
        EXPECT_EQ(printer.Error.Code, HF_ERR_UNREACHABLE);
        EXPECT_NE(printer.Error.Reason.find("no-such.sock"), std::string::npos)
            << printer.Error.Reason;
        const JobStatus job = spooler_.QueryJob(sandbox::kQueue600, Id(1), never_);
        EXPECT_EQ(job.State, JobState::Unknown);
        EXPECT_FALSE(job.Reason.empty());
    }
    // And the sandbox is there again afterwards.
    EXPECT_NE(Open(sandbox::kQueue600), nullptr);
}

TEST_F(CupsSpoolerTest, PrintsOneStreamedUnscaledJobNamedAfterTheFile) {
    TempDir dir;
    struct Case {
        const char* Name;
        PageImage Image;
    };
    const Case cases[] = {
        {"bgrx", BgrxImage(320, 200)},
        {"jpeg", JpegImage(dir, 300, 240)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::unique_ptr<Printer> printer = Open(sandbox::kQueue600);
        ASSERT_NE(printer, nullptr);
        const std::string docName = UniqueName(std::string("photo-") + c.Name, ".jpg");
        ASSERT_TRUE(Print(*printer, docName, c.Image));

        const std::optional<sandbox::CapturedJob> job =
            CapturedJobTitled(sandbox::kQueue600, docName);
        ASSERT_TRUE(job.has_value()) << "no job titled " << docName;
        EXPECT_TRUE(ReadFile(job->DocumentPath) == PdfOf(printer->Geometry(), c.Image))
            << "the printer did not receive the page as written";
        EXPECT_TRUE(HasOption(job->Options, "print-scaling=none")) << job->Options;
    }
}

TEST_F(CupsSpoolerTest, PassesTheUsersDefaultOptionsWithTheJob) {
    sandbox::SetLpoptions("Dest tallowin-600 print-color-mode=monochrome\n");
    const std::unique_ptr<Printer> printer = Open(sandbox::kQueue600);
    ASSERT_NE(printer, nullptr);
    const std::string docName = UniqueName("mono", ".png");
    ASSERT_TRUE(Print(*printer, docName, BgrxImage(16, 16)));
    const std::optional<sandbox::CapturedJob> job = CapturedJobTitled(sandbox::kQueue600, docName);
    ASSERT_TRUE(job.has_value());
    EXPECT_TRUE(HasOption(job->Options, "print-color-mode=monochrome")) << job->Options;
    EXPECT_TRUE(HasOption(job->Options, "print-scaling=none")) << job->Options;
}

TEST_F(CupsSpoolerTest, AFileNameThatIsNotUtf8GivesAValidJobName) {
    const std::unique_ptr<Printer> printer = Open(sandbox::kQueue300);
    ASSERT_NE(printer, nullptr);
    const std::string unique = UniqueName("", ".jpg");
    ASSERT_TRUE(Print(*printer, "caf\xe9" + unique, BgrxImage(40, 30)));
    const std::string expected = "caf\xEF\xBF\xBD" + unique;
    const std::optional<sandbox::CapturedJob> job = CapturedJobTitled(sandbox::kQueue300, expected);
    ASSERT_TRUE(job.has_value()) << "no job titled " << expected;
    EXPECT_EQ(ToJobName(job->Title), job->Title) << "the name is not valid UTF-8";
}

TEST_F(CupsSpoolerTest, ALongFileNameIsCutToWhatIppAllows) {
    const std::unique_ptr<Printer> printer = Open(sandbox::kQueue300);
    ASSERT_NE(printer, nullptr);
    const std::string docName = UniqueName("long", std::string(300, 'n') + ".jpg");
    ASSERT_TRUE(Print(*printer, docName, BgrxImage(8, 8)));
    const std::optional<sandbox::CapturedJob> job =
        CapturedJobTitled(sandbox::kQueue300, docName.substr(0, 255));
    EXPECT_TRUE(job.has_value()) << "no job named after the first 255 bytes";
}

TEST_F(CupsSpoolerTest, AFailedDocumentCancelsItsJob) {
    TempDir dir;
    // A JPEG whose header does not say the size it claims: the page cannot
    // be written, after the job was created.
    PageImage wrongSize = JpegImage(dir, 64, 48);
    wrongSize.Width = 65;
    const struct Case {
        const char* Name;
        PageImage Image;
        Status FailsPartWay;
        HotFolderError Code;
    } cases[] = {
        {"page refused", wrongSize, {}, HF_ERR_JOB_FAILED},
        {"file damaged part way", BgrxImage(64, 64),
         Status::Failure(HF_ERR_DAMAGED, "Premature end of JPEG file"), HF_ERR_DAMAGED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::unique_ptr<Printer> printer = Open(sandbox::kQueue600);
        ASSERT_NE(printer, nullptr);
        const std::string docName = UniqueName("broken", ".jpg");
        ImagePage page(c.Image, c.FailsPartWay);
        const Result<int> job = printer->Print(docName, page, never_);
        EXPECT_EQ(job.Error.Code, c.Code) << job.Error.Reason;
        EXPECT_EQ(job.Value, 0) << "cancelled: no job to follow";
        EXPECT_EQ(JobStateOf(sandbox::kQueue600, docName), IPP_JSTATE_CANCELED);
    }
}

// The scheduler made the job, but its answer never came: the job, which
// would wait without its document for many minutes, is found and cancelled.
TEST_F(CupsSpoolerTest, AJobWhoseAnswerWasLostIsCancelled) {
    TempDir dir;
    const std::string docName = UniqueName("unanswered", ".jpg");
    {
        sandbox::AnswerTamperingProxy proxy(dir / "proxy.sock", sandbox::Server());
        ServerOverride through(dir / "proxy.sock");
        const std::unique_ptr<Printer> printer = Open(sandbox::kQueue600);
        ASSERT_NE(printer, nullptr);
        ImagePage page(BgrxImage(8, 8), {});
        const Result<int> job = printer->Print(docName, page, never_);
        EXPECT_FALSE(job.Ok());
        EXPECT_EQ(job.Value, 0);
        ASSERT_TRUE(proxy.Tampered());
    }
    EXPECT_EQ(JobStateOf(sandbox::kQueue600, ToJobName(docName)), IPP_JSTATE_CANCELED);
}

// The scheduler took the whole page, and the job ended before the answer
// to its document came, saying the document failed. The cancel that
// follows comes too late; the job counts by how it ended: one that
// completed has printed, so its id comes back to be followed and the file
// is not sent again, while one that was aborted printed nothing and counts
// as cancelled.
TEST_F(CupsSpoolerTest, AJobThatEndedBeforeItsCancelCountsByHowItEnded) {
    const struct Case {
        const char* Name;
        const char* Queue;
        bool Printed;
    } cases[] = {
        {"completed", sandbox::kQueue600, true},
        {"aborted", sandbox::kQueueFail, false},
    };
    const std::string server = sandbox::Server();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::string docName = UniqueName("ended", ".jpg");
        // Asked on the proxy's thread, straight at the scheduler.
        const auto ended = [&] {
            const std::unique_ptr<http_t, decltype(&httpClose)> http(
                httpConnect2(server.c_str(), ippPort(), nullptr, AF_UNSPEC,
                             HTTP_ENCRYPTION_IF_REQUESTED, 1, 5000, nullptr),
                &httpClose);
            return http && JobStateOf(c.Queue, docName, http.get()) >= IPP_JSTATE_CANCELED;
        };
        int created = 0;
        Result<int> job;
        {
            sandbox::AnswerTamperingProxy proxy(
                dir / "proxy.sock", server,
                {sandbox::kSendDocument, sandbox::kServerErrorInternal, ended});
            ServerOverride through(dir / "proxy.sock");
            const std::unique_ptr<Printer> printer = Open(c.Queue);
            ASSERT_NE(printer, nullptr);
            ImagePage page(BgrxImage(8, 8));
            job = printer->Print(docName, page, never_,
                                 [&created](const JobTicket& made) { created = made.Id; });
            ASSERT_TRUE(proxy.Tampered());
        }
        EXPECT_FALSE(job.Ok());
        ASSERT_GT(created, 0);
        EXPECT_EQ(job.Value, c.Printed ? created : 0) << job.Error.Reason;
        if (!c.Printed) continue;
        EXPECT_NE(job.Error.Reason.find("completed"), std::string::npos) << job.Error.Reason;
        int printed = 0;
        for (const sandbox::CapturedJob& captured : sandbox::WaitForJobs(c.Queue, 0, 0)) {
            printed += captured.Title == docName ? 1 : 0;
        }
        EXPECT_EQ(printed, 1);
    }
}

// Runs call, requests stop from another thread 300 ms into it, and gives
// how long the call went on after that; nullopt when it ended before.
template <class Call>
std::optional<std::chrono::milliseconds> TimeAfterStop(StopFlag& stop, Call call) {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> stoppedAt;
    std::jthread stopper([&](std::stop_token done) {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock lock(m);
        cv.wait_for(lock, done, std::chrono::milliseconds(300), [] { return false; });
        if (done.stop_requested()) return;
        stoppedAt = Clock::now();
        stop.Request();
    });
    call();
    const Clock::time_point end = Clock::now();
    stopper.request_stop();
    stopper.join();
    if (!stoppedAt) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(end - *stoppedAt);
}

TEST_F(CupsSpoolerTest, AFrozenSchedulerHoldsNothingOnceStopIsRequested) {
    const std::unique_ptr<Printer> printer = Open(sandbox::kQueue600);
    ASSERT_NE(printer, nullptr);
    const std::string docName = UniqueName("frozen", ".jpg");
    struct Case {
        const char* Name;
        std::function<Status(const StopSignal&)> Call;
    } cases[] = {
        {"open",
         [&](const StopSignal& stop) { return spooler_.Open(sandbox::kQueue600, stop).Error; }},
        {"print",
         [&](const StopSignal& stop) {
             ImagePage page(BgrxImage(64, 64));
             return printer->Print(docName, page, stop).Error;
         }},
        {"query",
         [&](const StopSignal& stop) {
             const JobStatus job = spooler_.QueryJob(sandbox::kQueue600, Id(1), stop);
             EXPECT_EQ(job.State, JobState::Unknown);
             return Status::Failure(HF_ERR_UNREACHABLE, job.Reason);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        StopFlag stop;
        Status result;
        std::optional<std::chrono::milliseconds> afterStop;
        {
            const sandbox::FrozenScheduler frozen;
            afterStop = TimeAfterStop(stop, [&] { result = c.Call(stop); });
        }
        ASSERT_TRUE(afterStop) << "the call ended before the stop, with " << result.Reason;
        // libcups waits up to a second for "100 Continue" before each request.
        EXPECT_LT(*afterStop, std::chrono::seconds(3));
        EXPECT_EQ(result.Code, HF_ERR_UNREACHABLE);
        EXPECT_NE(result.Reason.find("stop"), std::string::npos) << result.Reason;
        RecordProperty(std::string(c.Name) + "_ms_after_stop",
                       static_cast<int>(afterStop->count()));
        std::printf("%s returned %lld ms after the stop\n", c.Name,
                    static_cast<long long>(afterStop->count()));
    }
    EXPECT_NE(Open(sandbox::kQueue600), nullptr) << "the scheduler answers again";
    // The job may have been created while the answer was not waited for;
    // without its document it never prints.
    const int state = JobStateOf(sandbox::kQueue600, docName);
    EXPECT_NE(state, IPP_JSTATE_PROCESSING);
    EXPECT_NE(state, IPP_JSTATE_COMPLETED);
}

TEST_F(CupsSpoolerTest, JobsEndAsTheSchedulerSays) {
    // Completed: the backend kept it.
    std::unique_ptr<Printer> printer = Open(sandbox::kQueue600);
    ASSERT_NE(printer, nullptr);
    int job = Print(*printer, UniqueName("done", ".jpg"), BgrxImage(8, 8));
    ASSERT_GT(job, 0);
    JobStatus status = SettledState(sandbox::kQueue600, job);
    EXPECT_EQ(status.State, JobState::Completed) << status.Reason;

    // Failed: the backend failed and the scheduler aborted the job.
    printer = Open(sandbox::kQueueFail);
    ASSERT_NE(printer, nullptr);
    job = Print(*printer, UniqueName("fails", ".jpg"), BgrxImage(8, 8));
    ASSERT_GT(job, 0);
    status = SettledState(sandbox::kQueueFail, job);
    EXPECT_EQ(status.State, JobState::Failed);
    EXPECT_NE(status.Reason.find("aborted"), std::string::npos) << status.Reason;

    // Gone: no such job, or one of another queue.
    status = spooler_.QueryJob(sandbox::kQueue600, Id(999999), never_);
    EXPECT_EQ(status.State, JobState::Gone);
    EXPECT_FALSE(status.Reason.empty());
    status = spooler_.QueryJob(sandbox::kQueue300, Id(job), never_);
    EXPECT_EQ(status.State, JobState::Gone);
    EXPECT_NE(status.Reason.find(sandbox::kQueueFail), std::string::npos) << status.Reason;
}

// What the scheduler says of a queue stopped with a reason, one that
// refuses jobs, and one that is fine; cupsdisable and cupsreject as an
// operator would use them.
TEST_F(CupsSpoolerTest, ConditionReadsTheQueuesStateReasonsAndMessage) {
    const std::string server = ShellQuote(sandbox::Server());
    const std::string queue = ShellQuote(sandbox::kQueue300);
    const std::string sbin = "PATH=\"$PATH:/usr/sbin:/sbin\" ";
    struct Case {
        const char* Name;
        std::string Before, After;  // shell commands
        PrinterCondition::State State;
        bool Accepting;
        std::string Message;
        std::optional<std::string> Attention;
    };
    const Case cases[] = {
        {"ready", "true", "true", PrinterCondition::State::Idle, true, "", std::nullopt},
        {"stopped_with_a_reason", sbin + "cupsdisable -h " + server + " -r 'Out of paper' " + queue,
         sbin + "cupsenable -h " + server + " " + queue, PrinterCondition::State::Stopped, true,
         "Out of paper", "Out of paper (paused)"},
        {"refusing_jobs", sbin + "cupsreject -h " + server + " " + queue,
         sbin + "cupsaccept -h " + server + " " + queue, PrinterCondition::State::Idle, false,
         "Rejecting Jobs", "Rejecting Jobs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_EQ(RunCommand(c.Before).ExitCode, 0);
        const Result<PrinterCondition> condition = spooler_.Condition(sandbox::kQueue300, never_);
        ASSERT_EQ(RunCommand(c.After).ExitCode, 0);
        ASSERT_TRUE(condition.Ok()) << condition.Error.Reason;
        EXPECT_EQ(condition.Value.Now, c.State);
        EXPECT_EQ(condition.Value.Accepting, c.Accepting);
        EXPECT_EQ(condition.Value.Message, c.Message);
        EXPECT_EQ(NeedsAttention(condition.Value), c.Attention);
    }
    const Result<PrinterCondition> unknown = spooler_.Condition("tallowin-nosuchqueue", never_);
    EXPECT_EQ(unknown.Error.Code, HF_ERR_PRINTER);
}

TEST_F(CupsSpoolerTest, AJobOnAPausedQueueWaitsUntilItIsResumed) {
    sandbox::SetQueueEnabled(sandbox::kQueue300, false);
    std::unique_ptr<Printer> printer = Open(sandbox::kQueue300);
    ASSERT_NE(printer, nullptr);
    const int job = Print(*printer, UniqueName("paused", ".jpg"), BgrxImage(8, 8));
    const JobStatus paused = spooler_.QueryJob(sandbox::kQueue300, Id(job), never_);
    sandbox::SetQueueEnabled(sandbox::kQueue300, true);
    ASSERT_GT(job, 0);
    EXPECT_EQ(paused.State, JobState::Pending) << paused.Reason;
    const JobStatus status = SettledState(sandbox::kQueue300, job);
    EXPECT_EQ(status.State, JobState::Completed) << status.Reason;
}

TEST_F(CupsSpoolerTest, EachPrintOfAnOpenPrinterIsItsOwnJob) {
    const std::unique_ptr<Printer> printer = Open(sandbox::kQueue600);
    ASSERT_NE(printer, nullptr);
    const std::string first = UniqueName("first", ".jpg");
    const int firstJob = Print(*printer, first, BgrxImage(8, 8));
    ASSERT_GT(firstJob, 0);
    const std::string second = UniqueName("second", ".jpg");
    const int secondJob = Print(*printer, second, BgrxImage(8, 8));
    ASSERT_GT(secondJob, 0);
    EXPECT_NE(firstJob, secondJob);
    EXPECT_TRUE(CapturedJobTitled(sandbox::kQueue600, first).has_value());
    EXPECT_TRUE(CapturedJobTitled(sandbox::kQueue600, second).has_value());
}

TEST_F(CupsSpoolerTest, AJobIsNamedForGoodBeforeItsPageGoesAndFoundAgainByItsName) {
    const std::unique_ptr<Printer> printer = Open(sandbox::kQueue600);
    ASSERT_NE(printer, nullptr);
    const std::string docName = UniqueName("named", ".jpg");
    ImagePage page(BgrxImage(8, 8));
    JobTicket told;
    const std::int64_t before = time(nullptr);
    JobStatus whileTold;
    const Result<int> job = printer->Print(docName, page, never_, [&](const JobTicket& ticket) {
        told = ticket;
        whileTold = spooler_.QueryJob(sandbox::kQueue600, ticket, never_);
    });
    EXPECT_EQ(whileTold.State, JobState::Pending) << whileTold.Reason;
    EXPECT_TRUE(whileTold.Documentless) << "told before the page went";
    ASSERT_TRUE(job.Ok()) << job.Error.Reason;
    EXPECT_EQ(told.Id, job.Value);
    EXPECT_EQ(told.Uuid.rfind("urn:uuid:", 0), 0u) << told.Uuid;
    EXPECT_GE(told.CreatedAt, before - 1);
    EXPECT_LE(told.CreatedAt, time(nullptr) + 1);

    EXPECT_EQ(SettledState(sandbox::kQueue600, job.Value).State, JobState::Completed);
    const JobStatus confirmed = spooler_.QueryJob(sandbox::kQueue600, told, never_);
    EXPECT_EQ(confirmed.State, JobState::Completed) << confirmed.Reason;
    EXPECT_FALSE(confirmed.Documentless);
    // The same id under another uuid or time is another job: this one is gone.
    for (JobTicket other : {JobTicket{told.Id, "urn:uuid:0", told.CreatedAt},
                            JobTicket{told.Id, told.Uuid, told.CreatedAt - 5}}) {
        EXPECT_EQ(spooler_.QueryJob(sandbox::kQueue600, other, never_).State, JobState::Gone);
    }

    struct Search {
        const char* Name;
        std::string Queue, Doc;
        std::int64_t NotBefore;
        std::size_t Found;
    } searches[] = {
        {"its name and time", sandbox::kQueue600, docName, told.CreatedAt, 1},
        {"made before", sandbox::kQueue600, docName, told.CreatedAt + 1, 0},
        {"another queue", sandbox::kQueue300, docName, 0, 0},
        {"another name", sandbox::kQueue600, docName + "x", 0, 0},
    };
    for (const Search& c : searches) {
        const Result<std::vector<FoundJob>> found =
            spooler_.FindJobs(c.Queue, c.Doc, c.NotBefore, never_);
        ASSERT_TRUE(found.Ok()) << found.Error.Reason;
        ASSERT_EQ(found.Value.size(), c.Found) << c.Name;
        if (c.Found == 1) {
            EXPECT_EQ(found.Value[0].Ticket.Uuid, told.Uuid);
            EXPECT_EQ(found.Value[0].Status.State, JobState::Completed);
        }
    }
}

TEST_F(CupsSpoolerTest, AJobWithoutItsDocumentIsFoundAndCancelled) {
    const std::string docName = UniqueName("pageless", ".jpg");
    const int job = sandbox::CreateDocumentlessJob(sandbox::kQueue600, ToJobName(docName));
    ASSERT_GT(job, 0) << cupsLastErrorString();
    const JobStatus waiting = spooler_.QueryJob(sandbox::kQueue600, Id(job), never_);
    EXPECT_EQ(waiting.State, JobState::Pending);
    EXPECT_TRUE(waiting.Documentless);
    const Result<std::vector<FoundJob>> found =
        spooler_.FindJobs(sandbox::kQueue600, docName, 0, never_);
    ASSERT_TRUE(found.Ok()) << found.Error.Reason;
    ASSERT_EQ(found.Value.size(), 1u);
    EXPECT_EQ(found.Value[0].Ticket.Id, job);
    EXPECT_TRUE(found.Value[0].Status.Documentless);

    EXPECT_TRUE(spooler_.CancelJob(sandbox::kQueue600, job, never_).Ok());
    const JobStatus cancelled = spooler_.QueryJob(sandbox::kQueue600, Id(job), never_);
    EXPECT_EQ(cancelled.State, JobState::Failed);
    EXPECT_TRUE(cancelled.Documentless);
    EXPECT_EQ(spooler_.CancelJob(sandbox::kQueue600, job, never_).Code, HF_ERR_JOB_FAILED)
        << "an ended job cannot be cancelled again";
}

TEST(ToJobNameTest, KeepsValidUtf8AndReplacesTheRest) {
    struct Case {
        const char* Name;
        std::string In;
        std::string Out;
    };
    const std::string fffd = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"ascii", "photo.jpg", "photo.jpg"},
        {"empty", "", ""},
        {"two_byte", "caf\xC3\xA9.jpg", "caf\xC3\xA9.jpg"},
        {"three_byte", "\xE6\x97\xA5\xE6\x9C\xAC.png", "\xE6\x97\xA5\xE6\x9C\xAC.png"},
        {"four_byte", "\xF0\x9F\x93\xB7.jpg", "\xF0\x9F\x93\xB7.jpg"},
        {"highest_code_point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"latin1_byte", "caf\xE9.jpg", "caf" + fffd + ".jpg"},
        {"two_latin1_bytes", "\xE9\xE8", fffd + fffd},
        {"stray_continuation", "a\x80z", "a" + fffd + "z"},
        {"truncated_at_end", "photo\xE6\x97", "photo" + fffd + fffd},
        {"lead_then_ascii", "\xC3(x)", fffd + "(x)"},
        {"overlong_slash", "a\xC0\xAFz", "a" + fffd + fffd + "z"},
        {"overlong_three_byte", "\xE0\x80\xAF", fffd + fffd + fffd},
        {"surrogate", "\xED\xA0\x80", fffd + fffd + fffd},
        {"beyond_unicode", "\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
        {"f5_lead", "\xF5\x80", fffd + fffd},
        {"ff_byte", "\xFF.jpg", fffd + ".jpg"},
        {"tab", "a\tb", "a" + fffd + "b"},
        {"newline", "a\nb", "a" + fffd + "b"},
        {"escape", "\x1B[0m", fffd + "[0m"},
        {"delete", "a\x7F", "a" + fffd},
        {"255_bytes_kept", std::string(255, 'x'), std::string(255, 'x')},
        {"256_bytes_cut", std::string(256, 'x'), std::string(255, 'x')},
        {"cut_before_a_split_character", std::string(254, 'x') + "\xC3\xA9", std::string(254, 'x')},
        {"cut_before_a_replacement", std::string(253, 'x') + "\xE9", std::string(253, 'x')},
        {"replacement_that_fits", std::string(252, 'x') + "\xE9", std::string(252, 'x') + fffd},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToJobName(c.In), c.Out) << c.Name;
    }
}

}  // namespace
