// A picture as the engine sees it, and the writer of the page that holds it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "engine/hot_folder_types.h"
#include "engine/placement.h"
#include "engine/ports/clock.h"
#include "engine/status.h"
#include "util/sinks.h"

namespace tallowin {

class PageWriter;  // below

struct PageGeometry;  // below

// One decoded (or, at least, opened and checked) image file: a picture, or
// a document of pages (PDF).
class Image {
  public:
    virtual ~Image() = default;
    // A picture: upright, after the EXIF orientation. A document: its first
    // page as a viewer shows it, in whole points at 72 dots per inch, so
    // that FitToPage of it is that page's fit.
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual int XDpi() const = 0;  // whole dots per inch; 0 when the file gives none
    virtual int YDpi() const = 0;
    virtual const FileIdentity& Identity() const = 0;
    // True for a document: it prints through Document, never through Page.
    virtual bool IsDocument() const { return false; }
    // A document's job: the writer of every page in order, each fitted to
    // g's printable area by FitToPage (as a picture of Width x Height at
    // XDpi is) and placed at its top-left corner by the writer itself, on
    // sheets of g's media. Fails with HF_ERR_TOO_LARGE when a page would be
    // less than a dot wide, HF_ERR_CHANGED when the file is no longer the
    // one loaded; a picture fails with HF_ERR_NOT_IMAGE. Never null on
    // success.
    virtual Result<std::unique_ptr<PageWriter>> Document(const PageGeometry& g) {
        (void)g;
        return {nullptr, Status::Failure(HF_ERR_NOT_IMAGE, "a picture has no document")};
    }
    // Document, each page scaled, placed and turned as mode says
    // (PlacePicture of the page as Document fits it), cut at the printable
    // area. This default takes only the default mode (as Document) and
    // refuses any other with HF_ERR_SETTINGS.
    virtual Result<std::unique_ptr<PageWriter>> PlacedDocument(const PageGeometry& g,
                                                               const PlacementMode& mode) {
        if (mode == PlacementMode{}) return Document(g);
        return {nullptr, Status::Failure(HF_ERR_SETTINGS,
                                         "this document cannot be scaled, moved or turned")};
    }
    // A writer of the page that holds this image resampled to exactly
    // width x height printer pixels (linear kernel, averaging when it
    // shrinks), alpha flattened on white, 8-bit sRGB. Only the file's header
    // is checked here: fails with HF_ERR_DAMAGED when the file no longer is
    // the one that was loaded, HF_ERR_TOO_LARGE for a size it cannot make.
    // The pixels are decoded while the writer writes. Never null on success.
    virtual Result<std::unique_ptr<PageWriter>> Page(int width, int height) = 0;
    // A writer of the page that holds the picture as placement says (see
    // engine/placement.h): turned first when Turned, its Source region
    // resampled to Tw x Th, at (X, Y) printer pixels from the printable
    // area's top-left corner; otherwise as Page(width, height). A placement
    // that neither moves, cuts nor turns is exactly Page(Tw, Th), byte for
    // byte. This default takes only such a one, and refuses any other with
    // HF_ERR_SETTINGS.
    virtual Result<std::unique_ptr<PageWriter>> PlacedPage(const Placement& placement) {
        if (IsPlain(placement)) return Page(placement.Tw, placement.Th);
        return {nullptr,
                Status::Failure(HF_ERR_SETTINGS,
                                "this picture cannot be moved, cut or turned on its page")};
    }
    // True when placement neither moves, cuts nor turns the picture.
    static bool IsPlain(const Placement& p) {
        return !p.Turned && p.X == 0 && p.Y == 0 && !p.Cut();
    }
};

class ImageLoader {
  public:
    virtual ~ImageLoader() = default;
    // Never null on success. Fails with HF_ERR_NOT_IMAGE when the file is
    // gone, unreadable (strerror), not a regular file or in no format a
    // trusted loader reads; HF_ERR_DAMAGED when its header is damaged;
    // HF_ERR_TOO_LARGE beyond the loader's limit. Never throws.
    virtual Result<std::unique_ptr<Image>> Load(const std::string& path) = 0;
};

// A printer's page as the print job sees it, all in printer pixels except
// where a unit says otherwise.
struct PageGeometry {
    int Rx = 0, Ry = 0;       // dots per inch across and down
    int Pw = 0, Ph = 0;       // printable area in printer pixels
    double MediaWidthPt = 0;  // the whole sheet, in points (1/72 inch)
    double MediaHeightPt = 0;
    double LeftPt = 0, TopPt = 0;  // the printable area's top-left corner, in points
};

// Writes one job's document (PDF) straight to a sink as it is made: a
// picture's page as its image is decoded, so that no whole page is ever
// held in memory; a document's pages as their data is read.
class PageWriter {
  public:
    virtual ~PageWriter() = default;
    // Writes the whole document for a page of g's media with the image at
    // the printable area's top-left corner, unscaled (a document's writer:
    // a sheet of g's media for each of its pages, see Image::Document).
    // Fails with
    // HF_ERR_DAMAGED (the library's words) when the file turns out damaged
    // or truncated while its pixels are read, HF_ERR_JOB_FAILED when sink
    // refuses or encoding fails, HF_ERR_UNREACHABLE once stop is requested;
    // on failure the sink has had a truncated document that no reader
    // accepts. Call once.
    virtual Status Write(const PageGeometry& g, const ByteSink& sink, const StopSignal& stop) = 0;
};

}  // namespace tallowin
