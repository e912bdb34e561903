// Whole print jobs through the private CUPS scheduler: images that the test
// makes are dropped into a real folder, scanned twice, printed by the real
// print job and captured by the sandbox's backend; the captured PDF is then
// checked with poppler's tools.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vips/vips8>

#include "cups/cups_spooler.h"
#include "engine/hot_folder.h"
#include "os/folder_listing.h"
#include "page/vips_image.h"
#include "store/job_ledger_file.h"
#include "store/print_log_file.h"
#include "tests/engine/fakes.h"
#include "tests/support/images.h"
#include "tests/support/process.h"
#include "tests/support/sandbox.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pdf.h"

using namespace tallowin;

namespace {

struct PdfImage {
    int width = 0, height = 0;
    std::string encoding;  // "jpeg", "image" (flate), ...
    int xppi = 0, yppi = 0;
};

struct PdfFacts {
    int pages = 0;
    std::string pageSize;  // as pdfinfo prints it, e.g. "612 x 828 pts"
    int rotation = 0;      // the page's /Rotate
    std::vector<PdfImage> images;
};

PdfFacts Inspect(const std::string& pdf) {
    PdfFacts facts;
    const CommandResult info = RunCommand("pdfinfo " + ShellQuote(pdf));
    EXPECT_EQ(info.ExitCode, 0) << "pdfinfo failed on " << pdf;
    std::istringstream lines(info.Output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Pages:", 0) == 0) facts.pages = std::atoi(line.c_str() + 6);
        if (line.rfind("Page rot:", 0) == 0) facts.rotation = std::atoi(line.c_str() + 9);
        if (line.rfind("Page size:", 0) == 0) {
            facts.pageSize = line.substr(line.find_first_not_of(' ', 10));
        }
    }
    const CommandResult list = RunCommand("pdfimages -list " + ShellQuote(pdf));
    EXPECT_EQ(list.ExitCode, 0);
    std::istringstream rows(list.Output);
    bool body = false;
    for (std::string row; std::getline(rows, row);) {
        if (row.rfind("----", 0) == 0) {
            body = true;
            continue;
        }
        if (!body || row.empty()) continue;
        std::istringstream f(row);
        std::string page, num, type, color, comp, bpc, interp, object, id, size, ratio;
        PdfImage im;
        f >> page >> num >> type >> im.width >> im.height >> color >> comp >> bpc >> im.encoding >>
            interp >> object >> id >> im.xppi >> im.yppi;
        facts.images.push_back(im);
    }
    return facts;
}

// The colour of one pixel of the first image embedded in pdf.
std::vector<double> PixelOfEmbeddedImage(const std::string& pdf, const TempDir& scratch, int x,
                                         int y) {
    const std::string prefix = scratch / "extracted";
    EXPECT_EQ(RunCommand("pdfimages -png " + ShellQuote(pdf) + " " + ShellQuote(prefix)).ExitCode,
              0);
    vips::VImage image = vips::VImage::new_from_file((prefix + "-000.png").c_str());
    return image.getpoint(x, y);
}

class PrintEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { sandbox::Home(); }  // before any libcups call

    void SetUp() override {
        ASSERT_FALSE(sandbox::Server().empty());
        for (const char* q : {sandbox::kQueue600, sandbox::kQueue300, sandbox::kQueueFiltered,
                              sandbox::kQueueTrays}) {
            sandbox::ClearJobs(q);
        }
    }

    // Drops nothing itself: scans the folder twice as the worker would.
    HotFolder ScanTwice(const std::string& queue, const JobSettingsText& settings = {}) {
        HotFolder folder("e2e", hot.Path(), queue, 5);
        folder.PrintSettings = settings;
        folder.Reset(clock);
        folder.SetRunning();
        folder.Scan(services, stop);
        folder.Scan(services, stop);
        return folder;
    }
    // Scans until the scheduler reports the job completed and the file is
    // deleted; false when that takes more than a few seconds.
    bool ScanUntilDeleted(HotFolder& folder, const std::string& path) {
        for (int i = 0; i < 100; ++i) {
            folder.Scan(services, stop);
            if (!FileExists(path)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    TempDir hot, scratch, state;
    FakeClock clock;
    PosixFolderLister lister;
    VipsImageLoader images;
    CupsSpooler spooler;
    PosixFileRemover remover;
    FileJobLedger ledger{state / "jobs.tsv"};
    SpdlogPrintLog log{state / "print.log"};
    StopFlag stop;
    EngineServices services{clock, lister, images, spooler, remover, ledger, log};
};

struct Case {
    const char* name;
    const char* file;
    testimages::Recipe recipe;
    int Tw, Th;
    const char* encoding;
    const char* writeAs = "";  // a suffix to write the image under before naming it file
};

class PrintEachImage : public PrintEndToEnd, public ::testing::WithParamInterface<Case> {};

TEST_P(PrintEachImage, OnePageWithTheImageAtItsSizeOnPaper) {
    const Case& c = GetParam();
    // The helper picks the format from the suffix; the file's name may lie.
    testimages::Write(hot / (std::string(c.file) + c.writeAs), c.recipe);
    ASSERT_EQ(rename((hot / (std::string(c.file) + c.writeAs)).c_str(), (hot / c.file).c_str()), 0);
    HotFolder folder = ScanTwice(sandbox::kQueue600);
    EXPECT_EQ(folder.GetError(), HF_ERR_NONE) << c.name;
    EXPECT_EQ(folder.GetState(), HF_STATE_RUNNING) << c.name;

    const auto jobs = sandbox::WaitForJobs(sandbox::kQueue600, 1);
    ASSERT_EQ(jobs.size(), 1u) << c.name;
    EXPECT_EQ(jobs[0].Title, c.file) << c.name;
    const PdfFacts pdf = Inspect(jobs[0].DocumentPath);
    EXPECT_EQ(pdf.pages, 1) << c.name;
    EXPECT_EQ(pdf.pageSize, "612 x 828 pts") << c.name;
    ASSERT_EQ(pdf.images.size(), 1u) << c.name;
    EXPECT_EQ(PlacedImageSize(ReadFile(jobs[0].DocumentPath), 600, 600), std::pair(c.Tw, c.Th))
        << c.name;
    EXPECT_EQ(pdf.images[0].encoding, c.encoding) << c.name;
    // Never more pixels than the printer prints: drawn pixel for pixel, or
    // a JPEG as it is stored that the printer enlarges.
    if (c.encoding == std::string("jpeg") && pdf.images[0].width != c.Tw) {
        EXPECT_EQ(pdf.images[0].width * pdf.images[0].height, c.recipe.Width * c.recipe.Height)
            << c.name;
    } else {
        EXPECT_EQ(std::pair(pdf.images[0].width, pdf.images[0].height), std::pair(c.Tw, c.Th))
            << c.name;
        EXPECT_EQ(pdf.images[0].xppi, 600) << c.name;
        EXPECT_EQ(pdf.images[0].yppi, 600) << c.name;
    }
    EXPECT_TRUE(ScanUntilDeleted(folder, hot / c.file))
        << c.name << ": printed file must be deleted once its job completed";
}

// The 600 dpi queue's printable area is 4800 x 6600.
INSTANTIATE_TEST_SUITE_P(
    Images, PrintEachImage,
    ::testing::Values(
        Case{"jpeg_300dpi_fits",
             "photo.jpg",
             {.Width = 1200, .Height = 900, .Dpi = 300},
             2400,
             1800,
             "jpeg"},
        Case{"jpeg_no_dpi_is_72_and_shrinks",
             "nodpi.jpg",
             {.Width = 600, .Height = 400},
             4800,
             3200,
             "jpeg"},
        Case{"png_150dpi",
             "scan.png",
             {.Width = 300, .Height = 200, .Dpi = 150},
             1200,
             800,
             "image"},
        Case{"png_no_dpi", "nodpi.png", {.Width = 640, .Height = 480}, 4800, 3600, "image"},
        Case{"jpeg_exif_rotated_is_upright",
             "turned.jpg",
             {.Width = 800, .Height = 400, .Dpi = 200, .Orientation = 6},
             1200,
             2400,
             "jpeg"},
        Case{"png_with_alpha",
             "alpha.png",
             {.Width = 200, .Height = 100, .Bands = 4, .Dpi = 100, .Alpha = 0},
             1200,
             600,
             "image"},
        Case{"jpeg_content_under_png_name",
             "really-a-jpeg.png",
             {.Width = 120, .Height = 60, .Dpi = 60},
             1200,
             600,
             "jpeg",
             ".jpg"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Whether the backend's options string holds name=value as one word.
bool HasOption(const std::string& options, const std::string& option) {
    std::istringstream words(options);
    for (std::string word; words >> word;) {
        if (word == option) return true;
    }
    return false;
}

// Print settings as the profile's keys give them.
JobSettingsText Settings(std::initializer_list<std::pair<std::string, std::string>> keys) {
    JobSettingsText text;
    for (const auto& [key, value] : keys) {
        for (const JobSettingsKey& k : kJobSettingsKeys) {
            if (key == k.Key) text.*k.Field = value;
        }
    }
    return text;
}

struct SettingsCase {
    const char* name;
    JobSettingsText settings;
    const char* copies;
    std::vector<std::string> options;  // each one among the backend's
    const char* pageSize;
    HotFolderError error = HF_ERR_NONE;  // a printer that does not offer a value
    const char* queue = sandbox::kQueueTrays;
};

TEST_F(PrintEndToEnd, AFoldersPrintSettingsReachTheBackend) {
    const SettingsCase cases[] = {
        {"none", {}, "1", {"print-scaling=none"}, "612 x 828 pts"},
        {"copies_media_sides_colour_tray_options",
         Settings({{"Copies", "2"},
                   {"Media", "Letter"},
                   {"Sides", "two-sided-long-edge"},
                   {"ColorMode", "monochrome"},
                   {"Tray", "bottom"},
                   {"Options", "output-order=reverse page-border=single"}}),
         "2",
         {"media=Letter", "sides=two-sided-long-edge", "print-color-mode=monochrome",
          "media-source=bottom", "output-order=reverse", "page-border=single", "print-scaling=none",
          "Duplex=DuplexNoTumble"},
         "612 x 792 pts"},
        {"pwg_media_name", Settings({{"Media", "na_foolscap_8.5x13in"}}), "1", {}, "612 x 936 pts"},
        {"tray_not_offered", Settings({{"Tray", "manual"}}), nullptr, {}, nullptr, HF_ERR_SETTINGS},
        {"media_not_offered",
         Settings({{"Media", "iso_a3_297x420mm"}}),
         nullptr,
         {},
         nullptr,
         HF_ERR_SETTINGS},
        {"one_sided_on_a_simplex_printer",
         Settings({{"Sides", "one-sided"}, {"ColorMode", "color"}}),
         "1",
         {"sides=one-sided", "print-color-mode=color"},
         "612 x 828 pts",
         HF_ERR_NONE,
         sandbox::kQueue600},
        {"two_sided_not_offered",
         Settings({{"Sides", "two-sided-long-edge"}}),
         nullptr,
         {},
         nullptr,
         HF_ERR_SETTINGS,
         sandbox::kQueue600},
        {"colour_not_offered",
         Settings({{"ColorMode", "color"}}),
         nullptr,
         {},
         nullptr,
         HF_ERR_SETTINGS,
         sandbox::kQueue300},
        {"colour_not_offered_by_a_member",
         Settings({{"ColorMode", "color"}}),
         nullptr,
         {},
         nullptr,
         HF_ERR_SETTINGS,
         sandbox::kQueuePool},
    };
    for (const SettingsCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error == HF_ERR_NONE) sandbox::ClearJobs(c.queue);  // a class has no output
        testimages::Write(hot / "photo.png", {.Width = 300, .Height = 200, .Dpi = 150});
        HotFolder folder = ScanTwice(c.queue, c.settings);
        EXPECT_EQ(folder.GetError(), c.error) << folder.GetLastFailure().Reason;
        if (c.error != HF_ERR_NONE) {
            EXPECT_NE(folder.GetLastFailure().Reason.find("does not offer"), std::string::npos)
                << folder.GetLastFailure().Reason;
            EXPECT_TRUE(FileExists(hot / "photo.png"));
            ASSERT_EQ(unlink((hot / "photo.png").c_str()), 0);
            continue;
        }
        const auto jobs = sandbox::WaitForJobs(c.queue, 1);
        ASSERT_EQ(jobs.size(), 1u);
        EXPECT_EQ(jobs[0].Copies, c.copies);
        for (const std::string& option : c.options) {
            EXPECT_TRUE(HasOption(jobs[0].Options, option)) << option << " in " << jobs[0].Options;
        }
        const PdfFacts pdf = Inspect(jobs[0].DocumentPath);
        EXPECT_EQ(pdf.pageSize.rfind(c.pageSize, 0), 0u) << pdf.pageSize;  // "(letter)" may follow
        ASSERT_EQ(pdf.images.size(), 1u);
        EXPECT_EQ(pdf.images[0].width, 1200);
        EXPECT_TRUE(ScanUntilDeleted(folder, hot / "photo.png"));
    }
}

// The image's matrix on the page (w 0 0 h x y, in points from the sheet's
// bottom-left corner) as the page's content draws it.
std::vector<double> ImageMatrix(const std::string& pdf) {
    const std::string bytes = ReadFile(pdf);
    const std::size_t cm = bytes.find(" cm /Im0 Do");
    if (cm == std::string::npos) return {};
    const std::size_t q = bytes.rfind("q ", cm);
    std::istringstream numbers(bytes.substr(q + 2, cm - q - 2));
    std::vector<double> m;
    for (double v; numbers >> v;) m.push_back(v);
    return m;
}

struct PlacementCase {
    const char* name;
    JobSettingsText settings;
    int Tw, Th;
    std::vector<double> matrix;  // w 0 0 h x y
};

// The trays queue: 600 dpi, a sheet of 612 x 828 pt with 18 pt margins (a
// printable area of 4800 x 6600 pixels, 0.12 pt each). The picture is 300 x
// 200 at 150 dpi: 1200 x 800 printer pixels at its own size.
TEST_F(PrintEndToEnd, ScalingPositionAndRotationPlaceThePictureExactly) {
    const PlacementCase cases[] = {
        {"auto_fit_top_left", {}, 1200, 800, {144, 0, 0, 96, 18, 714}},
        {"none_centred",
         Settings({{"Scaling", "none"}, {"Position", "center"}}),
         1200,
         800,
         {144, 0, 0, 96, 234, 366}},
        {"fit_bottom_right",
         Settings({{"Scaling", "fit"}, {"Position", "bottom-right"}}),
         4800,
         3200,
         {576, 0, 0, 384, 18, 18}},
        {"fill_is_cut_to_the_area",
         Settings({{"Scaling", "fill"}}),
         4800,
         6600,
         {576, 0, 0, 792, 18, 18}},
        {"fit_turned",
         Settings({{"Scaling", "fit"}, {"Rotate", "auto"}}),
         4400,
         6600,
         {528, 0, 0, 792, 18, 18}},
    };
    for (const PlacementCase& c : cases) {
        SCOPED_TRACE(c.name);
        sandbox::ClearJobs(sandbox::kQueueTrays);
        testimages::Write(hot / "photo.png", {.Width = 300, .Height = 200, .Dpi = 150, .Mark = 20});
        HotFolder folder = ScanTwice(sandbox::kQueueTrays, c.settings);
        EXPECT_EQ(folder.GetError(), HF_ERR_NONE) << folder.GetLastFailure().Reason;
        const auto jobs = sandbox::WaitForJobs(sandbox::kQueueTrays, 1);
        ASSERT_EQ(jobs.size(), 1u);
        const PdfFacts pdf = Inspect(jobs[0].DocumentPath);
        ASSERT_EQ(pdf.images.size(), 1u);
        EXPECT_EQ(pdf.images[0].width, c.Tw);
        EXPECT_EQ(pdf.images[0].height, c.Th);
        const std::vector<double> m = ImageMatrix(jobs[0].DocumentPath);
        ASSERT_EQ(m.size(), c.matrix.size());
        for (std::size_t i = 0; i < m.size(); ++i) EXPECT_NEAR(m[i], c.matrix[i], 0.001) << i;
        if (c.Tw == 4400) {
            // Turned counter-clockwise: the stored top-left corner (the
            // blue mark) is at the bottom-left.
            EXPECT_EQ(PixelOfEmbeddedImage(jobs[0].DocumentPath, scratch, 20, c.Th - 20),
                      (std::vector<double>{0, 0, 255}));
            EXPECT_EQ(PixelOfEmbeddedImage(jobs[0].DocumentPath, scratch, 20, 20),
                      (std::vector<double>{200, 40, 20}));
        }
        EXPECT_TRUE(ScanUntilDeleted(folder, hot / "photo.png"));
    }
}

// A document's pages take the folder's scaling, position and rotation too:
// a page of 200 x 100 pt, its ink where the row says, on the trays queue's
// sheet (612 x 828 pt, the printable area from 18 pt on each side).
TEST_F(PrintEndToEnd, ADocumentsPagesArePlacedAsThePicturesAre) {
    struct Row {
        const char* name;
        JobSettingsText settings;
        PdfBox ink;      // on the page
        InkBox printed;  // on the sheet, at 72 dpi
    };
    const Row rows[] = {
        {"own_size_top_left", {}, {0, 0, 200, 100}, {18, 18, 218, 118}},
        {"fit_bottom",
         Settings({{"Scaling", "fit"}, {"Position", "bottom"}}),
         {0, 0, 200, 100},
         {18, 522, 594, 810}},
        // Turned counter-clockwise: the page's top-left corner goes to the
        // bottom-left.
        {"fit_turned",
         Settings({{"Scaling", "fit"}, {"Rotate", "auto"}}),
         {0, 50, 100, 100},
         {18, 414, 216, 810}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        sandbox::ClearJobs(sandbox::kQueueTrays);
        TestPdfPage page;
        page.Media = {0, 0, 200, 100};
        page.Ink = r.ink;
        WriteFile(hot / "doc.pdf", MakeTestPdf({page}));
        HotFolder folder = ScanTwice(sandbox::kQueueTrays, r.settings);
        EXPECT_EQ(folder.GetError(), HF_ERR_NONE) << folder.GetLastFailure().Reason;
        const auto jobs = sandbox::WaitForJobs(sandbox::kQueueTrays, 1);
        ASSERT_EQ(jobs.size(), 1u);
        const std::optional<InkBox> ink = InkOnPage(jobs[0].DocumentPath, 1, 72);
        ASSERT_TRUE(ink.has_value());
        EXPECT_NEAR(ink->Left, r.printed.Left, 1);
        EXPECT_NEAR(ink->Top, r.printed.Top, 1);
        EXPECT_NEAR(ink->Right, r.printed.Right, 1);
        EXPECT_NEAR(ink->Bottom, r.printed.Bottom, 1);
        EXPECT_TRUE(ScanUntilDeleted(folder, hot / "doc.pdf"));
    }
}

TEST_F(PrintEndToEnd, TransparentAreasPrintWhiteNotBlack) {
    testimages::Write(hot / "clear.png",
                      {.Width = 50, .Height = 50, .Bands = 4, .Dpi = 600, .Alpha = 0});
    ScanTwice(sandbox::kQueue600);
    const auto jobs = sandbox::WaitForJobs(sandbox::kQueue600, 1);
    ASSERT_EQ(jobs.size(), 1u);
    // An all-white page image may be stored grey (one band) or even one bit
    // deep; either way every band must be at its maximum, not black.
    const std::vector<double> px = PixelOfEmbeddedImage(jobs[0].DocumentPath, scratch, 25, 25);
    ASSERT_FALSE(px.empty());
    for (size_t band = 0; band < px.size(); ++band) EXPECT_GE(px[band], 250) << "band " << band;
}

TEST_F(PrintEndToEnd, ThreeHundredDpiQueueUsesItsLetterPage) {
    testimages::Write(hot / "wide.jpg", {.Width = 3000, .Height = 2000, .Dpi = 300});
    ScanTwice(sandbox::kQueue300);
    const auto jobs = sandbox::WaitForJobs(sandbox::kQueue300, 1);
    ASSERT_EQ(jobs.size(), 1u);
    const PdfFacts pdf = Inspect(jobs[0].DocumentPath);
    EXPECT_EQ(pdf.pageSize, "612 x 792 pts (letter)");
    ASSERT_EQ(pdf.images.size(), 1u);
    EXPECT_EQ(pdf.images[0].width, 2400);  // 3000 natural, printable width 2400: f = 0.8
    EXPECT_EQ(pdf.images[0].height, 1600);
    EXPECT_EQ(pdf.images[0].xppi, 300);
}

// Most real printers get a PDF job through the scheduler's pdftopdf filter,
// which applies the job's options to the page. The page is already laid
// out for the printer's defaults, so the filter must pass it through
// unscaled, and turn a landscape page exactly once to fit the sheet.
TEST_F(PrintEndToEnd, FiltersNeitherScaleThePageNorTurnALandscapePageTwice) {
    struct Orientation {
        const char* name;
        const char* lpoptions;
        int width, height;  // image at 100 dpi
        int Tw, Th;         // size on paper at 600 dpi
        bool turned;
    } cases[] = {
        // 3600 x 1800 fits the 4800 x 6600 portrait area as it is.
        {"portrait", "", 600, 300, 3600, 1800, false},
        // Landscape: the area is 6600 x 4800; 7200 x 1800 is scaled by 0.9167.
        {"landscape", "Dest tallowin-filtered orientation-requested=4\n", 1200, 300, 6600, 1650,
         true},
    };
    for (const Orientation& c : cases) {
        WriteFile(sandbox::Home().Lpoptions(), c.lpoptions);
        sandbox::ClearJobs(sandbox::kQueueFiltered);
        testimages::Write(hot / "turned.png", {.Width = c.width, .Height = c.height, .Dpi = 100});
        const HotFolder folder = ScanTwice(sandbox::kQueueFiltered);
        EXPECT_EQ(folder.GetError(), HF_ERR_NONE) << c.name;
        const auto jobs = sandbox::WaitForJobs(sandbox::kQueueFiltered, 1);
        ASSERT_EQ(jobs.size(), 1u) << c.name;
        const PdfFacts pdf = Inspect(jobs[0].DocumentPath);
        EXPECT_EQ(pdf.pages, 1) << c.name;
        // As the sheet lies in the printer: portrait, whatever the reading.
        const bool quarter = pdf.rotation % 180 != 0;
        EXPECT_EQ(quarter, c.turned) << c.name << ": /Rotate " << pdf.rotation;
        EXPECT_EQ(pdf.pageSize, quarter ? "828 x 612 pts" : "612 x 828 pts") << c.name;
        ASSERT_EQ(pdf.images.size(), 1u) << c.name;
        EXPECT_EQ(pdf.images[0].width, c.Tw) << c.name;
        EXPECT_EQ(pdf.images[0].height, c.Th) << c.name;
        EXPECT_EQ(pdf.images[0].xppi, 600) << c.name << ": scaled on the way";
        EXPECT_EQ(pdf.images[0].yppi, 600) << c.name << ": scaled on the way";
    }
    WriteFile(sandbox::Home().Lpoptions(), "");
}

TEST_F(PrintEndToEnd, FileNameThatIsNotUtf8StillPrints) {
    const std::string name = "caf\xe9.jpg";
    testimages::Write(hot / name, {.Width = 100, .Height = 100, .Dpi = 300});
    HotFolder folder = ScanTwice(sandbox::kQueue600);
    EXPECT_EQ(folder.GetError(), HF_ERR_NONE);
    const auto jobs = sandbox::WaitForJobs(sandbox::kQueue600, 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Title, ToJobName(name));
    EXPECT_TRUE(ScanUntilDeleted(folder, hot / name));
}

// The scheduler picks the member; whichever it is, each file prints once,
// at the pool's page (300 dpi, the Letter sheet of its smaller member).
TEST_F(PrintEndToEnd, PoolPrintsEachFileOnceOnSomeMember) {
    const std::vector<std::string> files{"pool-a.jpg", "pool-b.jpg", "pool-c.jpg", "pool-d.jpg"};
    for (const std::string& name : files) {
        testimages::Write(hot / name, {.Width = 600, .Height = 400, .Dpi = 300});
    }
    HotFolder folder = ScanTwice(sandbox::kQueuePool);
    EXPECT_EQ(folder.GetError(), HF_ERR_NONE);
    for (const std::string& name : files) EXPECT_TRUE(ScanUntilDeleted(folder, hot / name)) << name;

    std::vector<sandbox::CapturedJob> jobs;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (jobs.size() < files.size() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        jobs = sandbox::WaitForJobs(sandbox::kQueue600, 0, 0);
        for (auto& job : sandbox::WaitForJobs(sandbox::kQueue300, 0, 0)) jobs.push_back(job);
    }
    std::vector<std::string> titles;
    for (const auto& job : jobs) {
        titles.push_back(job.Title);
        const PdfFacts pdf = Inspect(job.DocumentPath);
        EXPECT_EQ(pdf.pageSize, "612 x 792 pts (letter)");
        ASSERT_EQ(pdf.images.size(), 1u);
        EXPECT_EQ(pdf.images[0].xppi, 300);
    }
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, files);
    EXPECT_EQ(folder.GetError(), HF_ERR_NONE);
}

// A document prints as one job of all its pages, each on a sheet of the
// queue's media, shrunk into the printable area (4800 x 6600 at 600 dpi,
// from 0.25 in) at its top-left corner; vector, not a picture.
TEST_F(PrintEndToEnd, ADocumentPrintsAllItsPagesInOneJob) {
    const std::string name = "report.pdf";
    WriteFile(hot / name, MakeTestPdf({{}, {}, {}}));
    HotFolder folder = ScanTwice(sandbox::kQueue600);
    EXPECT_EQ(folder.GetError(), HF_ERR_NONE) << folder.GetLastFailure().Reason;
    const auto jobs = sandbox::WaitForJobs(sandbox::kQueue600, 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Title, name);
    const PdfInfo info = ReadPdfInfo(jobs[0].DocumentPath);
    ASSERT_EQ(info.Pages, 3);
    EXPECT_TRUE(Inspect(jobs[0].DocumentPath).images.empty()) << "the pages stay vector";
    for (int page = 1; page <= 3; ++page) {
        EXPECT_EQ(info.Sizes.at(page - 1), "612 x 828") << page;
        // Letter at 600 dpi is 5100 x 6600, shrunk by 4800 / 5100 to
        // 4800 x 6212 printer pixels: 576 x 745.4 points from (18, 18).
        const std::optional<InkBox> ink = InkOnPage(jobs[0].DocumentPath, page, 72);
        ASSERT_TRUE(ink) << page;
        EXPECT_NEAR(ink->Left, 18, 1) << page;
        EXPECT_NEAR(ink->Top, 18, 1) << page;
        EXPECT_NEAR(ink->Right, 18 + 576, 1) << page;
        EXPECT_NEAR(ink->Bottom, 18 + 745, 1) << page;
    }
    EXPECT_TRUE(ScanUntilDeleted(folder, hot / name));
}

// A document that cannot be printed whole stays, with its reason; nothing
// of it reaches the printer.
TEST_F(PrintEndToEnd, ADocumentThatCannotPrintWholeStaysWithItsReason) {
    TestPdfOptions password;
    password.Encrypt = true;
    password.UserPassword = "secret";
    std::string cut = MakeTestPdf({{}, {}, {}});
    cut.resize(cut.size() / 2);
    const std::string noPages = HandWrittenPdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"});
    const struct {
        const char* File;
        std::string Bytes;
        HotFolderError Code;
    } cases[] = {
        {"locked.pdf", MakeTestPdf({{}}, password), HF_ERR_PROTECTED},
        {"cut.pdf", cut, HF_ERR_DAMAGED},
        {"empty.pdf", noPages, HF_ERR_NO_PAGES},
    };
    for (const auto& c : cases) {
        WriteFile(hot / c.File, c.Bytes);
        const HotFolder folder = ScanTwice(sandbox::kQueue600);
        EXPECT_EQ(folder.GetError(), c.Code) << c.File;
        EXPECT_EQ(folder.GetLastFailure().Code, c.Code) << c.File;
        EXPECT_FALSE(folder.GetLastFailure().Reason.empty()) << c.File;
        EXPECT_TRUE(FileExists(hot / c.File)) << c.File;
        ASSERT_EQ(std::remove((hot / c.File).c_str()), 0);
    }
    EXPECT_TRUE(sandbox::WaitForJobs(sandbox::kQueue600, 0, 0).empty());
}

TEST_F(PrintEndToEnd, QueueThatDoesNotExistKeepsTheFile) {
    testimages::Write(hot / "kept.jpg", {});
    const HotFolder folder = ScanTwice("no-such-queue");
    EXPECT_EQ(folder.GetError(), HF_ERR_PRINTER);
    EXPECT_EQ(folder.GetState(), HF_STATE_RUNNING);
    EXPECT_TRUE(FileExists(hot / "kept.jpg"));
}

TEST_F(PrintEndToEnd, SchedulerThatIsGoneKeepsTheFile) {
    const std::string server = sandbox::Server();
    setenv("CUPS_SERVER", (scratch / "no-scheduler.sock").c_str(), 1);
    cupsSetServer(nullptr);  // libcups reads the variable again
    testimages::Write(hot / "kept.png", {});
    const HotFolder folder = ScanTwice(sandbox::kQueue600);
    setenv("CUPS_SERVER", server.c_str(), 1);
    cupsSetServer(nullptr);
    EXPECT_EQ(folder.GetError(), HF_ERR_UNREACHABLE);
    EXPECT_EQ(folder.GetState(), HF_STATE_RUNNING);
    EXPECT_TRUE(FileExists(hot / "kept.png"));
}

}  // namespace
