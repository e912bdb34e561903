// A picture as the engine sees it, and the writer of the page that holds it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "engine/hot_folder_types.h"
#include "engine/ports/clock.h"
#include "engine/status.h"
#include "util/sinks.h"

namespace tallowin {

class PageWriter;  // below

// One decoded (or, at least, opened and checked) image file.
class Image {
  public:
    virtual ~Image() = default;
    virtual int Width() const = 0;  // upright, after the EXIF orientation
    virtual int Height() const = 0;
    virtual int XDpi() const = 0;  // whole dots per inch; 0 when the file gives none
    virtual int YDpi() const = 0;
    virtual const FileIdentity& Identity() const = 0;
    // A writer of the page that holds this image resampled to exactly
    // width x height printer pixels (linear kernel, averaging when it
    // shrinks), alpha flattened on white, 8-bit sRGB. Only the file's header
    // is checked here: fails with HF_ERR_DAMAGED when the file no longer is
    // the one that was loaded, HF_ERR_TOO_LARGE for a size it cannot make.
    // The pixels are decoded while the writer writes. Never null on success.
    virtual Result<std::unique_ptr<PageWriter>> Page(int width, int height) = 0;
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

// Writes one page document (PDF) as its image is decoded, straight to a
// sink, so that no whole page is ever held in memory.
class PageWriter {
  public:
    virtual ~PageWriter() = default;
    // Writes the whole document for a page of g's media with the image at
    // the printable area's top-left corner, unscaled. Fails with
    // HF_ERR_DAMAGED (the library's words) when the file turns out damaged
    // or truncated while its pixels are read, HF_ERR_JOB_FAILED when sink
    // refuses or encoding fails, HF_ERR_UNREACHABLE once stop is requested;
    // on failure the sink has had a truncated document that no reader
    // accepts. Call once.
    virtual Status Write(const PageGeometry& g, const ByteSink& sink, const StopSignal& stop) = 0;
};

}  // namespace tallowin
