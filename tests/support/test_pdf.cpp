#include "tests/support/test_pdf.h"

#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

QPDFObjectHandle Rect(const tallowin::PdfBox& b) {
    return QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(b.X0, b.Y0, b.X1, b.Y1));
}

std::string Fill(const tallowin::PdfBox& b) {
    std::ostringstream out;
    out << "0 g " << b.X0 << " " << b.Y0 << " " << b.Width() << " " << b.Height() << " re f\n";
    return out.str();
}

}  // namespace

std::string MakeTestPdf(const std::vector<TestPdfPage>& pages, const TestPdfOptions& options) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper doc(pdf);
    for (const TestPdfPage& p : pages) {
        QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
        page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        page.replaceKey("/MediaBox", Rect(p.Media));
        if (p.Crop) page.replaceKey("/CropBox", Rect(*p.Crop));
        if (p.Rotate != 0) page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(p.Rotate));
        page.replaceKey("/Resources", QPDFObjectHandle::newDictionary());
        if (p.Stamp) {
            const tallowin::PdfBox& b = *p.Stamp;
            QPDFObjectHandle look = pdf.newStream(Fill({0, 0, b.Width(), b.Height()}));
            look.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
            look.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
            look.getDict().replaceKey("/BBox", Rect({0, 0, b.Width(), b.Height()}));
            QPDFObjectHandle appearance = QPDFObjectHandle::newDictionary();
            appearance.replaceKey("/N", look);
            QPDFObjectHandle stamp = QPDFObjectHandle::newDictionary();
            stamp.replaceKey("/Type", QPDFObjectHandle::newName("/Annot"));
            stamp.replaceKey("/Subtype", QPDFObjectHandle::newName("/Square"));
            stamp.replaceKey("/Rect", Rect(b));
            stamp.replaceKey("/F", QPDFObjectHandle::newInteger(4));  // print
            stamp.replaceKey("/AP", appearance);
            QPDFObjectHandle annots = QPDFObjectHandle::newArray();
            annots.appendItem(pdf.makeIndirectObject(stamp));
            page.replaceKey("/Annots", annots);
        }
        if (p.Field) {
            QPDFObjectHandle field = QPDFObjectHandle::parse(
                "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (MMMM) /F 4 "
                "/DA (/Helv 40 Tf 0 g) >>");
            field.replaceKey("/Rect", Rect(*p.Field));
            field = pdf.makeIndirectObject(field);
            QPDFObjectHandle annots = QPDFObjectHandle::newArray();
            annots.appendItem(field);
            page.replaceKey("/Annots", annots);
            QPDFObjectHandle form = QPDFObjectHandle::parse(
                "<< /NeedAppearances true /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv << /Type "
                "/Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >> >> >> "
                ">>");
            QPDFObjectHandle fields = QPDFObjectHandle::newArray();
            fields.appendItem(field);
            form.replaceKey("/Fields", fields);
            pdf.getRoot().replaceKey("/AcroForm", form);
        }
        const std::string fill =
            p.Stamp || p.Field ? std::string("\n") : Fill(p.Ink.value_or(p.Media));
        if (p.SplitContents) {
            // The operator's operands in one piece, the operator in the next.
            const std::size_t cut = fill.rfind(" re f");
            QPDFObjectHandle pieces = QPDFObjectHandle::newArray();
            pieces.appendItem(pdf.newStream(fill.substr(0, cut)));
            pieces.appendItem(pdf.newStream(fill.substr(cut)));
            page.replaceKey("/Contents", pieces);
        } else {
            page.replaceKey("/Contents", pdf.newStream(fill));
        }
        doc.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    }
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setStaticID(true);
    if (options.Encrypt) {
        writer.setR6EncryptionParameters(
            options.UserPassword.c_str(), options.OwnerPassword.c_str(), true, true, true, true,
            true, true, options.AllowPrint ? qpdf_r3p_full : qpdf_r3p_none, true);
    }
    if (options.Linearize) writer.setLinearization(true);
    writer.write();
    const std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
    return {reinterpret_cast<const char*>(buffer->getBuffer()), buffer->getSize()};
}

std::string HandWrittenPdf(const std::vector<std::string>& bodies, bool trailerFirst) {
    const std::string trailer =
        "trailer\n<< /Size " + std::to_string(bodies.size() + 1) + " /Root 1 0 R >>\n";
    std::string pdf = "%PDF-1.4\n";
    if (trailerFirst) pdf += trailer;
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t at : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", at);
        pdf += line;
    }
    pdf += trailer + "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

PdfInfo ReadPdfInfo(const std::string& pdfPath) {
    PdfInfo info;
    const CommandResult pages = RunCommand("pdfinfo " + ShellQuote(pdfPath));
    EXPECT_EQ(pages.ExitCode, 0) << "pdfinfo failed on " << pdfPath;
    std::istringstream lines(pages.Output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Pages:", 0) == 0) info.Pages = std::stoi(line.substr(6));
    }
    if (info.Pages <= 0) return info;
    const CommandResult sizes =
        RunCommand("pdfinfo -f 1 -l " + std::to_string(info.Pages) + " " + ShellQuote(pdfPath));
    std::istringstream sizeLines(sizes.Output);
    for (std::string line; std::getline(sizeLines, line);) {
        const std::size_t at = line.find(" size: ");
        if (line.rfind("Page ", 0) != 0 || at == std::string::npos) continue;
        std::string size = line.substr(at + 7);
        size = size.substr(size.find_first_not_of(' '));
        info.Sizes.push_back(size.substr(0, size.find(" pts")));
    }
    return info;
}

std::optional<InkBox> InkOnPage(const std::string& pdfPath, int page, int dpi) {
    TempDir dir;
    const std::string stem = dir / "page";
    const CommandResult run =
        RunCommand("pdftoppm -aa no -aaVector no -gray -r " + std::to_string(dpi) + " -f " +
                   std::to_string(page) + " -l " + std::to_string(page) + " -singlefile " +
                   ShellQuote(pdfPath) + " " + ShellQuote(stem));
    EXPECT_EQ(run.ExitCode, 0) << "pdftoppm failed on " << pdfPath;
    std::ifstream in(stem + ".pgm", std::ios::binary);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    EXPECT_EQ(magic, "P5");
    std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h);
    in.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
    std::optional<InkBox> box;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (pixels[static_cast<std::size_t>(y) * w + x] >= 128) continue;
            if (!box) box = InkBox{x, y, x + 1, y + 1};
            box->Left = std::min(box->Left, x);
            box->Top = std::min(box->Top, y);
            box->Right = std::max(box->Right, x + 1);
            box->Bottom = std::max(box->Bottom, y + 1);
        }
    }
    return box;
}
