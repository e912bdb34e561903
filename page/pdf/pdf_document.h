// A PDF document opened and checked with qpdf, and the writer of the job
// that prints it: every page, in order, placed as a form XObject with one
// matrix on a sheet of the printer's size. Vector content stays vector and
// the file's streams are copied as they are stored, never decoded (only a
// page whose contents come in several pieces has them joined).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/ports/page.h"
#include "page/pdf/pdf_placement.h"
#include "util/unique_fd.h"

namespace tallowin {

// How much of a document is read at all: a file beyond these is refused
// with HF_ERR_TOO_LARGE before its pages are written (before its objects
// are read, where the file says how many it has), so that one hostile file
// never takes the service's memory or time. qpdf holds every object it has
// read, and the job holds a copy of each one the pages use.
struct PdfLimits {
    int MaxPages = 10'000;
    // The file's object numbers (its trailer's /Size): one cross-reference
    // entry each.
    std::uint64_t MaxObjects = 2'000'000;
    // The objects the pages use, read and copied (a few KiB each), and the
    // values inside them.
    std::uint64_t MaxUsedObjects = 100'000;
    std::uint64_t MaxUsedValues = 2'000'000;
    // One stream as stored: the writer holds one stream at a time.
    std::uint64_t MaxStreamBytes = std::uint64_t{64} << 20;
    // A page's contents joined from several pieces, decoded.
    std::uint64_t MaxJoinedContentBytes = std::uint64_t{256} << 20;
};

// The limits that keep a document's job within about memoryBytes (the
// loader's decode memory limit, as for a picture): 5 KiB for each object
// the pages use (qpdf 11's object read, and its copy in the job), 256 bytes
// for each value inside them and for each object number. The page and
// stream limits stay as they are. The default limits are those of 512 MiB.
PdfLimits PdfLimitsWithin(std::uint64_t memoryBytes);

// True when "%PDF-" starts within the file's first 1024 bytes (readers
// accept that much leading junk); reads with pread, so the offset stays.
bool StartsLikePdf(int fd);

// One opened document. Open reads the cross-reference table and the page
// tree and checks every object the pages use; the stream data is read while
// Write writes.
//
// Open fails with
//  - HF_ERR_PROTECTED when the document needs a password, or opens without
//    one but its permissions forbid printing (the author's restriction is
//    kept, as a viewer keeps it);
//  - HF_ERR_DAMAGED when qpdf cannot read it, finds a loop in its page tree,
//    or had to repair it and the repair left something missing: a page the
//    page tree counts but does not hold, an object the pages use that is not
//    in the file, or any warning while reading what the pages use. A
//    document whose cross-reference table alone was wrong and that qpdf
//    rebuilt completely prints;
//  - HF_ERR_NO_PAGES when the page tree holds no page;
//  - HF_ERR_TOO_LARGE beyond limits, or for a page larger than a printer
//    can be asked to take.
// The reason holds qpdf's own words where qpdf gave them. Nothing throws.
//
// The document keeps fd (the file as it was loaded) for its stream data and
// needs nothing else to outlive it. One thread at a time.
class PdfDocument final : public PageWriter {
  public:
    static Result<std::unique_ptr<PdfDocument>> Open(UniqueFd fd, std::string path,
                                                     const FileIdentity& identity,
                                                     const PdfLimits& limits = {});
    ~PdfDocument() override;
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    int PageCount() const;
    // index in [0, PageCount()).
    const PdfPageView& Page(int index) const;
    // True when qpdf had to repair the file to read it.
    bool Repaired() const;
    const FileIdentity& Identity() const;

    // How Write scales, places and turns each page (PlacePdfPageAs); the
    // default mode until set.
    void SetPlacement(const PlacementMode& mode);

    // Writes the whole job: one sheet of g's media for each page, the page
    // placed by PlacePdfPageAs in the mode set and drawn by PlacePdfPage,
    // clipped to the printable area (with the default mode: fitted by
    // FitPdfPage at the area's top-left). Fails before writing anything with HF_ERR_TOO_LARGE
    // when a page would be less than a dot wide. While writing: HF_ERR_DAMAGED
    // when qpdf warns about what it reads, HF_ERR_CHANGED when the file is no
    // longer the one loaded (checked before the document ends),
    // HF_ERR_JOB_FAILED when the sink refuses, HF_ERR_UNREACHABLE once stop
    // is requested. On failure the sink never gets the document's end, so
    // no reader takes what it got for a whole document. Call once.
    Status Write(const PageGeometry& g, const ByteSink& sink, const StopSignal& stop) override;

    // qpdf's side of the document; opaque outside its unit.
    struct State;

  private:
    explicit PdfDocument(std::unique_ptr<State> state);

    std::unique_ptr<State> s_;
};

}  // namespace tallowin
