// PDF documents made on the fly for the tests, with known pages: their
// boxes, turns and where they are inked; and what a captured job's pages
// look like once rendered.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "page/pdf/pdf_placement.h"

struct TestPdfPage {
    tallowin::PdfBox Media{0, 0, 612, 792};
    std::optional<tallowin::PdfBox> Crop;
    int Rotate = 0;
    // Filled black, in the page's own coordinates; the whole media box when
    // not given.
    std::optional<tallowin::PdfBox> Ink;
    // The contents split in two streams (one operator each).
    bool SplitContents = false;
    // A printable square annotation whose appearance fills this (page
    // coordinates) black; the page itself then is inked nowhere else.
    std::optional<tallowin::PdfBox> Stamp;
    // A filled-in text field of this rectangle, holding "MMMM" in large
    // Helvetica, without an appearance: the form asks viewers to draw it.
    std::optional<tallowin::PdfBox> Field;
};

struct TestPdfOptions {
    bool Encrypt = false;  // AES-256
    std::string UserPassword;
    std::string OwnerPassword = "owner";
    bool AllowPrint = true;
    bool Linearize = false;
};

// The document's bytes, written by qpdf.
std::string MakeTestPdf(const std::vector<TestPdfPage>& pages, const TestPdfOptions& options = {});

// A document written by hand from its objects' bodies (object i + 1 is
// bodies[i]), with a correct cross-reference table; object 1 is the
// catalog. For structures qpdf would not write. With trailerFirst, a
// trailer also follows the header, as in a linearized file, so that qpdf
// can rebuild a copy cut short.
std::string HandWrittenPdf(const std::vector<std::string>& bodies, bool trailerFirst = false);

// The document's page count and its pages' sizes in points ("612 x 792"),
// as pdfinfo reports them; fails the test when pdfinfo fails.
struct PdfInfo {
    int Pages = 0;
    std::vector<std::string> Sizes;
};
PdfInfo ReadPdfInfo(const std::string& pdfPath);

// Where the ink lies on page (1-based) of a document rendered at dpi, in
// pixels from the sheet's top-left corner; nullopt when the page is blank.
struct InkBox {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;  // Right and Bottom exclusive
};
std::optional<InkBox> InkOnPage(const std::string& pdfPath, int page, int dpi);
