// The platform services the engine needs, each behind a small interface so
// that the scan and the print job run in tests with a fake clock, a fake
// listing or a printer that records calls. The real adapters live in
// platform/; nothing here includes a system header.
//
// None of these interfaces is required to be thread-safe: the engine uses
// them from the worker thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/hot_folder_types.h"

// The 32-bit millisecond tick: wraps to 0 after 2^32 - 1.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t Now() = 0;
};

class FolderLister {
  public:
    virtual ~FolderLister() = default;
    // True when path names an existing folder (a link to one counts).
    virtual bool IsFolder(const std::string& path) = 0;
    // The regular files directly inside path. Links, fifos, sockets, devices
    // and sub-folders are left out. A folder that cannot be opened gives an
    // empty listing; a read error ends the listing with what was read so far.
    virtual Listing List(const std::string& path) = 0;
};

// What a file was when it was loaded; the print job deletes a file only when
// its path still names this very file.
struct FileIdentity {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Size = 0;
    std::int64_t ModifiedNs = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The image scaled to its size on paper, ready to be placed on a page.
struct PageImage {
    enum class Encoding {
        Jpeg,  // Data holds a JPEG file (the source was a JPEG)
        Bgrx,  // Data holds Height rows of Stride bytes, 4 bytes a pixel: B, G, R, unused
    };
    Encoding Format = Encoding::Bgrx;
    int Width = 0;
    int Height = 0;
    int Stride = 0;                            // Bgrx only
    std::shared_ptr<const std::uint8_t> Data;  // owner of the bytes, whatever allocated them
    std::size_t Size = 0;
};

// One decoded (or, at least, opened and checked) image file.
class Image {
  public:
    virtual ~Image() = default;
    virtual int Width() const = 0;  // upright, after the EXIF orientation
    virtual int Height() const = 0;
    virtual int XDpi() const = 0;  // whole dots per inch; 0 when the file gives none
    virtual int YDpi() const = 0;
    virtual const FileIdentity& Identity() const = 0;
    // Resamples the whole image to exactly width x height (linear kernel,
    // averaging when it shrinks), flattens alpha on white and converts it to
    // 8-bit sRGB. Empty when the file turns out to be damaged while its
    // pixels are read.
    virtual std::optional<PageImage> Render(int width, int height) = 0;
};

class ImageLoader {
  public:
    virtual ~ImageLoader() = default;
    // Null when the file is gone, locked, not an image, damaged in its
    // header, or larger than the loader accepts. Never throws.
    virtual std::unique_ptr<Image> Load(const std::string& path) = 0;
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

// An open printer. Print is called at most once.
class Printer {
  public:
    virtual ~Printer() = default;
    virtual const PageGeometry& Geometry() const = 0;
    // Sends one job named docName holding one page with image at the
    // printable area's top-left corner, unscaled. False when the job could
    // not be created or sent; a job that was created is cancelled then.
    virtual bool Print(const std::string& docName, const PageImage& image) = 0;
};

class Spooler {
  public:
    virtual ~Spooler() = default;
    // Null when the printer does not exist, cannot be reached or does not
    // say what its page looks like.
    virtual std::unique_ptr<Printer> Open(const std::string& printerName) = 0;
};

class FileRemover {
  public:
    virtual ~FileRemover() = default;
    // Deletes path only when it still names the file described by identity.
    // False when it did not delete it.
    virtual bool RemoveIfSame(const std::string& path, const FileIdentity& identity) = 0;
};

// The services one hot folder's scan and print jobs use; they outlive it.
struct EngineServices {
    Clock& clock;
    FolderLister& lister;
    ImageLoader& images;
    Spooler& spooler;
    FileRemover& remover;
};
