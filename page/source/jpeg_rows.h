// A JPEG file's rows decoded by libjpeg-turbo straight into the caller's
// hands, top to bottom, 8-bit RGB, or its planes as they are stored (Y, Cb,
// Cr or grey, each at its own size, no colour conversion, no upsampling). libvips' loader gives the
// same pixels (it calls the same library with the same settings) but passes every row through its
// caches and worker threads, which for a large photo costs half as much again as the decoding
// itself; a page that takes each row once needs none of that.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/status.h"
#include "page/page_codec.h"
#include "util/sinks.h"

namespace tallowin {

class JpegRows {
  public:
    // Reads the header of the JPEG on a duplicate of fd, from the file's
    // start whatever fd's offset (the caller keeps fd). shrink: 1, 2, 4 or
    // 8, libjpeg's DCT scaling. Null for what this reader leaves to
    // libvips: a header it cannot read, CMYK or YCCK colour, a size that
    // does not divide by shrink. memoryLimit bounds libjpeg's own memory
    // (max_memory_to_use): a decode that needs more fails in Read with
    // HF_ERR_TOO_LARGE before libjpeg allocates it.
    static std::unique_ptr<JpegRows> Open(int fd, int shrink,
                                          std::uint64_t memoryLimit = UINT64_MAX);
    // The same for reading planes (ReadPlanes): null too for anything but
    // grey and YCbCr whose chroma is sampled 1 x 1 under a luma of 1, 2 or
    // 4 each way, at most 4 blocks (4:4:4, 4:2:2, 4:4:0, 4:2:0, 4:1:1).
    static std::unique_ptr<JpegRows> OpenPlanes(int fd, int shrink,
                                                std::uint64_t memoryLimit = UINT64_MAX);

    // A JPEG a PDF reader decodes as it is stored, so that its page can
    // carry the file's own bytes: baseline or extended sequential, Huffman
    // coded, 8-bit, YCbCr or grey, no colour profile, no Adobe colour
    // transform other than YCbCr's. Length counts the bytes up to and with
    // the end marker (what follows it is no part of the image).
    struct Verbatim {
        int Width = 0, Height = 0;  // as stored
        int Components = 0;         // 1 or 3
        std::uint64_t Length = 0;
    };
    // The file on a duplicate of fd, read from its start to its end marker
    // and entropy-decoded whole (DCT scaled to 1/8, the cheapest way to
    // read every coefficient): nullopt for a file of another kind and for
    // one that raises a single warning or ends early, which the decoding
    // paths then judge as they always do.
    static std::optional<Verbatim> CheckVerbatim(int fd, std::uint64_t memoryLimit = UINT64_MAX);

    ~JpegRows();
    JpegRows(const JpegRows&) = delete;
    JpegRows& operator=(const JpegRows&) = delete;

    // The decoded size, shrink applied.
    int Width() const;
    int Height() const;

    // Decodes the rows in order into row (Width() * 3 bytes, valid during
    // the call). As libvips' loader does when
    // told to fail on warnings: a file that ends early, that libjpeg cannot
    // decode at all, or that it warns about (corrupt data it would pad or
    // guess) fails with HF_ERR_DAMAGED and libjpeg's words, before the row
    // the warning came with is given. HF_ERR_UNREACHABLE when row stopped
    // it. Call once.
    Status Read(const RowSink& row);

    // Opened by OpenPlanes: the file's planes, their sampling factors, and
    // plane c's decoded size. A sample of plane c spans StepX x StepY
    // pixels of the decoded image (Width() x Height()): the factors' ratio,
    // except where libjpeg's DCT scaling decodes a chroma plane larger
    // than its factors say. Samples are centred on what they span.
    const PlaneLayout& Layout() const;
    struct Plane {
        int Width = 0, Height = 0;
        double StepX = 1.0, StepY = 1.0;
    };
    Plane PlaneSize(int c) const;
    // Decodes the planes into row, each plane's rows in order (PlaneSize(c).
    // Width bytes), interleaved so that no plane runs ahead of another by
    // more than a row. Fails as Read does. Call once.
    Status ReadPlanes(const PlaneRowSink& row);

    struct Decoder;  // libjpeg's state, in the source file

  private:
    explicit JpegRows(std::unique_ptr<Decoder> decoder);
    static std::unique_ptr<JpegRows> OpenAs(int fd, int shrink, std::uint64_t memoryLimit,
                                            bool planes);

    std::unique_ptr<Decoder> decoder_;
};

}  // namespace tallowin
