#include "page/pdf/pdf_document.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/file_identity.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pdf.h"

namespace tallowin {
namespace {

// 8.5 x 11.5 inch sheet, printable area 8 x 10.5 inch from (0.25, 0.5) inch,
// at 72 dpi so that a printer pixel is a point and a rendered pixel.
PageGeometry Sheet72() {
    PageGeometry g;
    g.Rx = g.Ry = 72;
    g.Pw = 576;
    g.Ph = 756;
    g.MediaWidthPt = 612;
    g.MediaHeightPt = 828;
    g.LeftPt = 18;
    g.TopPt = 36;
    return g;
}

Result<std::unique_ptr<PdfDocument>> OpenBytes(const TempDir& dir, const std::string& bytes,
                                               const PdfLimits& limits = {}) {
    const std::string path = dir / "document.pdf";
    WriteFile(path, bytes);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    EXPECT_EQ(::fstat(fd.get(), &st), 0);
    return PdfDocument::Open(std::move(fd), path, IdentityOf(st), limits);
}

// The job written to dir/job.pdf.
Status WriteJob(PdfDocument& doc, const PageGeometry& g, const std::string& path) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    EXPECT_NE(out, nullptr);
    const Status written = doc.Write(
        g, [out](const unsigned char* d, std::size_t n) { return std::fwrite(d, 1, n, out) == n; },
        NeverStop());
    std::fclose(out);
    return written;
}

TestPdfPage PageOf(PdfBox media, std::optional<PdfBox> crop = std::nullopt, int rotate = 0,
                   std::optional<PdfBox> ink = std::nullopt, bool split = false) {
    TestPdfPage page;
    page.Media = media;
    page.Crop = crop;
    page.Rotate = rotate;
    page.Ink = ink;
    page.SplitContents = split;
    return page;
}

std::string Describe(const std::optional<InkBox>& b) {
    if (!b) return "blank";
    return std::to_string(b->Left) + "," + std::to_string(b->Top) + " - " +
           std::to_string(b->Right) + "," + std::to_string(b->Bottom);
}

void ExpectInk(const std::string& job, int page, const InkBox& want, const std::string& name) {
    const std::optional<InkBox> got = InkOnPage(job, page, 72);
    ASSERT_TRUE(got) << name << ": page " << page << " is blank";
    const bool near = std::abs(got->Left - want.Left) <= 1 && std::abs(got->Top - want.Top) <= 1 &&
                      std::abs(got->Right - want.Right) <= 1 &&
                      std::abs(got->Bottom - want.Bottom) <= 1;
    EXPECT_TRUE(near) << name << ": page " << page << " inked at " << Describe(got) << ", expected "
                      << Describe(want);
}

TEST(PdfPlacement, TheShownTopLeftCornerLandsWhereAViewerShowsIt) {
    // A 100 x 200 box away from the origin; its own top-left corner (10, 220)
    // is where a viewer shows it for each turn.
    const PdfBox box{10, 20, 110, 220};
    const PageGeometry g = Sheet72();
    struct Case {
        int Rotate;
        double X, Y;  // where (10, 220) lands in sheet coordinates
        int Tw, Th;
    };
    const double top = g.MediaHeightPt - g.TopPt;
    const Case cases[] = {
        {0, 18, top, 100, 200},
        {90, 18 + 200, top, 200, 100},
        {180, 18 + 100, top - 200, 100, 200},
        {270, 18, top - 100, 200, 100},
    };
    for (const Case& c : cases) {
        const PdfPageView view{box, c.Rotate, 1};
        const FitResult fit = FitPdfPage(view, g);
        EXPECT_EQ(fit.Tw, c.Tw) << c.Rotate;
        EXPECT_EQ(fit.Th, c.Th) << c.Rotate;
        const PdfMatrix m = PlacePdfPage(view, g, fit);
        EXPECT_NEAR(m.A * 10 + m.C * 220 + m.E, c.X, 1e-9) << c.Rotate;
        EXPECT_NEAR(m.B * 10 + m.D * 220 + m.F, c.Y, 1e-9) << c.Rotate;
    }
}

TEST(PdfPlacement, ViewerRotationAndBoxes) {
    EXPECT_EQ(ViewerRotation(-90), 270);
    EXPECT_EQ(ViewerRotation(450), 90);
    EXPECT_EQ(ViewerRotation(45), 0);
    const PdfBox shared = Intersection(Normalized({300, 400, 100, 100}), {0, 0, 200, 200});
    EXPECT_EQ(shared.X0, 100);
    EXPECT_EQ(shared.Y1, 200);
    // A unit of 2 points makes the page twice as large on paper.
    const PdfPageView view{{0, 0, 100, 50}, 0, 2};
    EXPECT_EQ(FitPdfPage(view, Sheet72()).Tw, 200);
}

TEST(PdfDocument, ThreeLetterPagesPrintAsThreeSheetsShrunkToTheTopLeft) {
    TempDir dir;
    auto doc = OpenBytes(dir, MakeTestPdf({{}, {}, {}}));
    ASSERT_TRUE(doc.Ok()) << doc.Error.Reason;
    ASSERT_EQ(doc.Value->PageCount(), 3);
    const std::string job = dir / "job.pdf";
    const Status written = WriteJob(*doc.Value, Sheet72(), job);
    ASSERT_TRUE(written.Ok()) << written.Reason;
    const PdfInfo info = ReadPdfInfo(job);
    ASSERT_EQ(info.Pages, 3);
    for (int page = 1; page <= 3; ++page) {
        EXPECT_EQ(info.Sizes.at(page - 1), "612 x 828");
        // 612 x 792 shrunk by 576 / 612 into 576 x 745.
        ExpectInk(job, page, {18, 36, 18 + 576, 36 + 745}, "letter");
    }
}

TEST(PdfDocument, EachPageIsPlacedAsAViewerShowsIt) {
    struct Case {
        const char* Name;
        TestPdfPage Page;
        InkBox Want;
    };
    const Case cases[] = {
        {"smaller than the area keeps its size",
         PageOf({0, 0, 144, 72}),
         {18, 36, 18 + 144, 36 + 72}},
        // Inked on its left half, turned clockwise: inked on its top half.
        {"rotate 90 prints upright",
         PageOf({0, 0, 200, 100}, std::nullopt, 90, PdfBox{0, 0, 100, 100}),
         {18, 36, 18 + 100, 36 + 100}},
        {"rotate 180",
         PageOf({0, 0, 200, 100}, std::nullopt, 180, PdfBox{0, 0, 100, 100}),
         {18 + 100, 36, 18 + 200, 36 + 100}},
        // The crop box's lower-left quarter inked; the rest of the media box
        // is not shown.
        {"crop box",
         PageOf({0, 0, 400, 400}, PdfBox{100, 100, 300, 200}, 0, PdfBox{100, 100, 200, 150}),
         {18, 36 + 50, 18 + 100, 36 + 100}},
        {"crop box reaching past the media box",
         PageOf({0, 0, 100, 100}, PdfBox{50, 50, 300, 300}),
         {18, 36, 18 + 50, 36 + 50}},
        {"printable annotation",
         [] {
             TestPdfPage page = PageOf({0, 0, 100, 100});
             page.Stamp = PdfBox{0, 50, 50, 100};
             return page;
         }(),
         {18, 36, 18 + 50, 36 + 50}},
        {"contents in pieces",
         PageOf({0, 0, 100, 100}, std::nullopt, 0, std::nullopt, true),
         {18, 36, 18 + 100, 36 + 100}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        auto doc = OpenBytes(dir, MakeTestPdf({c.Page}));
        ASSERT_TRUE(doc.Ok()) << c.Name << ": " << doc.Error.Reason;
        const std::string job = dir / "job.pdf";
        const Status written = WriteJob(*doc.Value, Sheet72(), job);
        ASSERT_TRUE(written.Ok()) << c.Name << ": " << written.Reason;
        EXPECT_EQ(ReadPdfInfo(job).Pages, 1) << c.Name;
        ExpectInk(job, 1, c.Want, c.Name);
    }
}

// A form filled in by a program that leaves the drawing to viewers: its
// field prints with its value, as a viewer shows it, inside the field.
TEST(PdfDocument, AFilledInFieldWithoutItsAppearancePrintsItsValue) {
    TempDir dir;
    TestPdfPage page = PageOf({0, 0, 300, 100});
    page.Field = PdfBox{20, 20, 280, 80};
    auto doc = OpenBytes(dir, MakeTestPdf({page}));
    ASSERT_TRUE(doc.Ok()) << doc.Error.Reason;
    const std::string job = dir / "job.pdf";
    ASSERT_TRUE(WriteJob(*doc.Value, Sheet72(), job).Ok());
    const std::optional<InkBox> ink = InkOnPage(job, 1, 72);
    ASSERT_TRUE(ink) << "the field's value is not printed";
    // The page's top-left at (18, 36) on the sheet, its field 20 in from
    // its left and bottom, 20 down from its top.
    EXPECT_GE(ink->Left, 18 + 20 - 1) << Describe(ink);
    EXPECT_GE(ink->Top, 36 + 20 - 1) << Describe(ink);
    EXPECT_LE(ink->Right, 18 + 280 + 1) << Describe(ink);
    EXPECT_LE(ink->Bottom, 36 + 80 + 1) << Describe(ink);
    EXPECT_GT(ink->Right - ink->Left, 60) << "four capitals at 40 pt: " << Describe(ink);
}

std::string TruncatedAt(std::string bytes, double part) {
    bytes.resize(static_cast<std::size_t>(bytes.size() * part));
    return bytes;
}

// Points startxref at the wrong place: qpdf rebuilds the table by scanning.
std::string WrongStartXref(std::string bytes) {
    const std::size_t at = bytes.rfind("startxref\n");
    bytes.replace(at + 10, bytes.find('\n', at + 10) - at - 10, "12");
    return bytes;
}

// Three pages whose trailer comes first (as in a linearized file), so that
// qpdf can rebuild the rest of a copy cut short: cut before the last page's
// contents, or inside them.
std::string ThreePagesCutShort(bool insideStream) {
    std::vector<std::string> bodies{"<< /Type /Catalog /Pages 2 0 R >>",
                                    "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>"};
    for (int i = 0; i < 3; ++i) {
        bodies.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents " +
                         std::to_string(6 + i) + " 0 R >>");
    }
    const std::string fill = "0 g 0 0 100 100 re f";
    for (int i = 0; i < 3; ++i) {
        bodies.push_back("<< /Length " + std::to_string(fill.size()) + " >>\nstream\n" + fill +
                         "\nendstream");
    }
    const std::string whole = HandWrittenPdf(bodies, true);
    const std::size_t last = whole.find("8 0 obj");
    return whole.substr(0, insideStream ? whole.find("re f", last) : last);
}

TEST(PdfDocument, BadDocumentsAreRefusedWithTheirReason) {
    const std::vector<TestPdfPage> three{{}, {}, {}};
    TestPdfOptions password;
    password.Encrypt = true;
    password.UserPassword = "secret";
    TestPdfOptions noPrinting;
    noPrinting.Encrypt = true;
    noPrinting.AllowPrint = false;
    TestPdfOptions linearized;
    linearized.Linearize = true;
    PdfLimits twoPages;
    twoPages.MaxPages = 2;
    PdfLimits tinyStreams;
    tinyStreams.MaxStreamBytes = 8;
    PdfLimits fewObjects = PdfLimitsWithin(4 << 10);  // not one object's worth
    struct Case {
        const char* Name;
        std::string Bytes;
        HotFolderError Want;
        PdfLimits Limits = {};
    };
    const std::string catalog = "<< /Type /Catalog /Pages 2 0 R >>";
    const Case cases[] = {
        {"needs a password", MakeTestPdf(three, password), HF_ERR_PROTECTED},
        {"forbids printing", MakeTestPdf(three, noPrinting), HF_ERR_PROTECTED},
        {"truncated", TruncatedAt(MakeTestPdf(three), 0.6), HF_ERR_DAMAGED},
        {"truncated linearized", TruncatedAt(MakeTestPdf(three, linearized), 0.6), HF_ERR_DAMAGED},
        {"no pages", HandWrittenPdf({catalog, "<< /Type /Pages /Kids [] /Count 0 >>"}),
         HF_ERR_NO_PAGES},
        {"page tree loop",
         HandWrittenPdf({catalog, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                         "<< /Type /Pages /Kids [2 0 R] /Parent 2 0 R /Count 1 >>"}),
         HF_ERR_DAMAGED},
        {"missing page",
         HandWrittenPdf({catalog, "<< /Type /Pages /Kids [3 0 R 9 0 R] /Count 2 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"}),
         HF_ERR_DAMAGED},
        {"not a PDF at all", "%PDF-1.7\nnothing else", HF_ERR_DAMAGED},
        {"cut short before a page's contents", ThreePagesCutShort(false), HF_ERR_DAMAGED},
        {"cut short inside a page's contents", ThreePagesCutShort(true), HF_ERR_DAMAGED},
        {"more pages than allowed", MakeTestPdf(three), HF_ERR_TOO_LARGE, twoPages},
        {"a stream larger than allowed", MakeTestPdf(three), HF_ERR_TOO_LARGE, tinyStreams},
        {"more objects than its memory allows", MakeTestPdf(three), HF_ERR_TOO_LARGE, fewObjects},
    };
    for (const Case& c : cases) {
        TempDir dir;
        auto doc = OpenBytes(dir, c.Bytes, c.Limits);
        EXPECT_EQ(doc.Error.Code, c.Want) << c.Name << ": " << doc.Error.Reason;
        if (!doc.Ok()) {
            EXPECT_FALSE(doc.Error.Reason.empty()) << c.Name;
        }
    }
}

TEST(PdfDocument, ARepairedButCompleteDocumentPrints) {
    const std::vector<TestPdfPage> pages{{}, PageOf({0, 0, 144, 72})};
    TestPdfOptions ownerOnly;
    ownerOnly.Encrypt = true;  // opens without a password, printing allowed
    for (const std::string& bytes :
         {WrongStartXref(MakeTestPdf(pages)), MakeTestPdf(pages, ownerOnly)}) {
        TempDir dir;
        auto doc = OpenBytes(dir, bytes);
        ASSERT_TRUE(doc.Ok()) << doc.Error.Reason;
        const std::string job = dir / "job.pdf";
        ASSERT_TRUE(WriteJob(*doc.Value, Sheet72(), job).Ok());
        EXPECT_EQ(ReadPdfInfo(job).Pages, 2);
        ExpectInk(job, 2, {18, 36, 18 + 144, 36 + 72}, "second page");
    }
}

struct StopNow final : StopSignal {
    bool Requested() const override { return true; }
};

TEST(PdfDocument, AStoppedOrRefusedJobFails) {
    TempDir dir;
    const StopNow stopNow;
    const NeverStop never;
    for (const bool stop : {true, false}) {
        auto doc = OpenBytes(dir, MakeTestPdf({{}, {}}));
        ASSERT_TRUE(doc.Ok());
        std::string got;
        const Status written = doc.Value->Write(
            Sheet72(),
            [&got, stop](const unsigned char* d, std::size_t n) {
                got.append(reinterpret_cast<const char*>(d), n);
                return stop;
            },
            stop ? static_cast<const StopSignal&>(stopNow) : never);
        EXPECT_EQ(written.Code, stop ? HF_ERR_UNREACHABLE : HF_ERR_JOB_FAILED);
        // Stopped, the document's end is held back.
        if (stop) {
            EXPECT_EQ(got.find("%%EOF"), std::string::npos);
        }
    }
}

TEST(PdfDocument, RecognisedByItsContent) {
    TempDir dir;
    const struct {
        std::string Bytes;
        bool Pdf;
    } cases[] = {{"%PDF-1.4\n", true},
                 {std::string(1000, ' ') + "%PDF-1.7", true},
                 {std::string(1030, ' ') + "%PDF-1.7", false},
                 {"GIF89a", false}};
    for (const auto& c : cases) {
        const std::string path = dir / "file";
        WriteFile(path, c.Bytes);
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        EXPECT_EQ(StartsLikePdf(fd.get()), c.Pdf) << c.Bytes.size();
    }
}

}  // namespace
}  // namespace tallowin
