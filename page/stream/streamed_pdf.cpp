#include "page/stream/streamed_pdf.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace tallowin {

namespace {

// The objects, in the order they are written.
enum Object : int {
    kCatalog = 1,
    kPages,
    kPage,
    kContents,
    kInfo,
    kImage,
    kImageLength,
    kObjectCount = kImageLength
};

bool Usable(const PageGeometry& g) {
    return g.Rx > 0 && g.Ry > 0 && std::isfinite(g.MediaWidthPt) && g.MediaWidthPt > 0 &&
           std::isfinite(g.MediaHeightPt) && g.MediaHeightPt > 0 && std::isfinite(g.LeftPt) &&
           std::isfinite(g.TopPt);
}

// A PDF real: fixed notation (PDF has no exponents), trailing zeros dropped.
// Six decimals keep the image's corners well inside a printer pixel.
std::string Real(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    std::string s(buf);
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

// The matrix that draws the unit square of a stored image, turned upright
// by its EXIF orientation, onto the w x h points whose lower-left corner is
// (x, y). PDF puts the stored image's first row at the square's top.
std::string Placing(int orientation, double x, double y, double w, double h) {
    double a = w, b = 0, c = 0, d = h, e = x, f = y;
    switch (orientation) {
        case 2:  // mirrored
            a = -w, e = x + w;
            break;
        case 3:  // half a turn
            a = -w, d = -h, e = x + w, f = y + h;
            break;
        case 4:  // mirrored top to bottom
            d = -h, f = y + h;
            break;
        case 5:  // transposed
            a = 0, b = -h, c = -w, d = 0, e = x + w, f = y + h;
            break;
        case 6:  // a quarter clockwise
            a = 0, b = -h, c = w, d = 0, f = y + h;
            break;
        case 7:  // transversed
            a = 0, b = h, c = w, d = 0;
            break;
        case 8:  // a quarter anticlockwise
            a = 0, b = h, c = -w, d = 0, e = x + w;
            break;
        default:
            break;
    }
    return Real(a) + " " + Real(b) + " " + Real(c) + " " + Real(d) + " " + Real(e) + " " + Real(f);
}

}  // namespace

StreamedPdfPage::StreamedPdfPage(const ByteSink& sink, PageCodec codec, bool grey)
    : sink_(sink), codec_(codec), grey_(grey), objectOffsets_(kObjectCount, 0) {}

bool StreamedPdfPage::Put(const std::string& text) {
    return Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

bool StreamedPdfPage::Write(const unsigned char* data, std::size_t size) {
    if (failed_) return false;
    if (size == 0) return true;
    try {
        failed_ = !sink_ || !sink_(data, size);
    } catch (...) {
        failed_ = true;
    }
    if (!failed_) offset_ += size;
    return !failed_;
}

bool StreamedPdfPage::StartObject(int number) {
    objectOffsets_[number - 1] = offset_;
    return Put(std::to_string(number) + " 0 obj\n");
}

bool StreamedPdfPage::Begin(const PageGeometry& g, int width, int height,
                            const ImageOnPage& image) {
    if (begun_ || !Usable(g) || width <= 0 || height <= 0 || image.Width < 0 || image.Height < 0 ||
        image.Orientation < 1 || image.Orientation > 8) {
        return false;
    }
    begun_ = true;
    const int imageW = image.Width > 0 ? image.Width : width;
    const int imageH = image.Height > 0 ? image.Height : height;
    // The image's size on the sheet in points, and its lower-left corner in
    // PDF's y-up user space.
    const double w = width * 72.0 / g.Rx;
    const double h = height * 72.0 / g.Ry;
    const double x = g.LeftPt;
    const double y = g.MediaHeightPt - g.TopPt - h;
    const std::string content = "q " + Placing(image.Orientation, x, y, w, h) + " cm /Im0 Do Q\n";
    const std::string filter = codec_ == PageCodec::Dct
                                   ? std::string("/Filter /DCTDecode")
                                   : "/Filter /FlateDecode /DecodeParms << /Predictor 12 /Colors 3 "
                                     "/BitsPerComponent 8 /Columns " +
                                         std::to_string(imageW) + " >>";

    // The binary comment tells transports the file is not text.
    return Put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n") && StartObject(kCatalog) &&
           Put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n") && StartObject(kPages) &&
           Put("<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n") && StartObject(kPage) &&
           Put("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Real(g.MediaWidthPt) + " " +
               Real(g.MediaHeightPt) +
               "] /Resources << /XObject << /Im0 6 0 R >> >> /Contents 4 0 R >>\nendobj\n") &&
           StartObject(kContents) &&
           Put("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
               "endstream\nendobj\n") &&
           StartObject(kInfo) && Put("<< /Creator (Tallowin) /Producer (Tallowin) >>\nendobj\n") &&
           StartObject(kImage) &&
           Put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(imageW) + " /Height " +
               std::to_string(imageH) + " /ColorSpace " + (grey_ ? "/DeviceGray" : "/DeviceRGB") +
               " /BitsPerComponent 8 /Interpolate " + (image.Smooth ? "true " : "false ") + filter +
               " /Length 7 0 R >>\nstream\n") &&
           (streamStart_ = offset_, true);
}

bool StreamedPdfPage::Finish() {
    if (!begun_ || failed_) return false;
    const std::uint64_t length = offset_ - streamStart_;
    if (!Put("\nendstream\nendobj\n") || !StartObject(kImageLength) ||
        !Put(std::to_string(length) + "\nendobj\n")) {
        return false;
    }
    const std::uint64_t xref = offset_;
    std::string table = "xref\n0 " + std::to_string(kObjectCount + 1) + "\n0000000000 65535 f \n";
    for (const std::uint64_t at : objectOffsets_) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010" PRIu64 " 00000 n \n", at);
        table += entry;
    }
    table += "trailer\n<< /Size " + std::to_string(kObjectCount + 1) +
             " /Root 1 0 R /Info 5 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return Put(table);
}

}  // namespace tallowin
