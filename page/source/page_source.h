// An image file's page rows, upright, resampled to the size on paper,
// 8-bit RGB, read top to bottom a strip at a time; or, for a JPEG in
// Y, Cb, Cr or grey without a colour profile, its own planes in its own
// sampling (Planes(), PumpPlanes: see plane_source.h), so that its page
// is encoded without converting or resampling its colours twice.
//
// Decoding streams: libvips reads the file sequentially and only the rows a
// strip needs are held, plus the resampler's few rows. libvips' thread pool
// computes the strips, so its buffers are reused from strip to strip. A
// JPEG without a colour profile, reduced or enlarged on both axes, is
// decoded by libjpeg straight into the resampler instead (see JpegRows),
// as planes where it has them: without libvips' copies.
// Resampling is LinearResampler, which gives what libvips' linear resize
// (the image adapter's) gives at a fraction of the cost, or for reductions
// by 2 or more LinearReducer, libvips' resize to the byte; libvips' resize
// itself only grows one axis while it shrinks the other. A JPEG reduced by
// 10 or more is decoded already shrunk by 2, 4 or 8 (libjpeg's DCT
// scaling), which saves most of the decoding; milder reductions decode in
// full, as the scaled decode's pixels would stray too far from the page a
// full decode gives.
// An image stored turned (EXIF orientation 2..8) cannot be decoded in the
// order it is printed: the smaller of its source and its page is held
// whole and turned in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/placement.h"
#include "engine/status.h"
#include "page/page_codec.h"
#include "util/sinks.h"

namespace tallowin {

class PageSource {
  public:
    // Opens the image on a duplicate of fd (the caller keeps its own) and
    // reads its header; width x height is the upright size on paper.
    // Fails with HF_ERR_NOT_IMAGE (no trusted loader reads it),
    // HF_ERR_DAMAGED (header damaged, or for GIF a frame whose data ends
    // early) or HF_ERR_TOO_LARGE (sizes beyond kMaxImagePixels or not positive,
    // or a decode, with a turned image's held rows, that needs more than
    // memoryLimit bytes: see DecodeMemoryNeeded).
    static Result<std::unique_ptr<PageSource>> Open(int fd, int width, int height,
                                                    std::uint64_t memoryLimit = UINT64_MAX);
    // The same for a picture placed as placement says (engine/placement.h):
    // upright, turned a quarter counter-clockwise when Turned, and of that
    // only its Source region, resampled (linear kernel) to Tw x Th. The
    // picture is decoded whole into libvips' cache first (turning needs its
    // pixels in any order), so the memory limit counts it whole; the
    // streaming of Open is for pages that neither cut nor turn. Fails as
    // Open does.
    static Result<std::unique_ptr<PageSource>> OpenPlaced(int fd, const Placement& placement,
                                                          std::uint64_t memoryLimit = UINT64_MAX);

    virtual ~PageSource() = default;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // DCT for JPEG files (the page stays a JPEG), FlateUp (lossless) else.
    PageCodec Codec() const { return codec_; }
    // libvips' loader name, and the stored (not turned) size, for the
    // caller's check that the file is still the one it loaded.
    const std::string& Loader() const { return loader_; }
    int StoredWidth() const { return storedWidth_; }
    int StoredHeight() const { return storedHeight_; }

    // The page's planes when it comes as planes (Count 1 or 3: read it with
    // PumpPlanes), else Count 0 (RGB rows: Pump).
    const PlaneLayout& Planes() const { return planes_; }

    // Decodes and resamples the page, giving its rows (Width() * 3 bytes,
    // valid during the call) to row in order, top to bottom, from one thread
    // at a time (the caller's, or libvips').
    // Fails with HF_ERR_DAMAGED, the decoder's words as reason, when the
    // pixels turn out damaged or truncated, and with HF_ERR_UNREACHABLE
    // when row stopped it. Call once.
    virtual Status Pump(const RowSink& row) = 0;
    // The same for a page of planes: each plane's rows (PlaneWidth(Planes(),
    // c, Width()) bytes) in order, the planes interleaved.
    virtual Status PumpPlanes(const PlaneRowSink& row);

  protected:
    const PlaneLayout planes_;

    PageSource(const std::string& loader, int storedW, int storedH, int width, int height,
               PageCodec codec, const PlaneLayout& planes = {})
        : planes_(planes),
          width_(width),
          height_(height),
          storedWidth_(storedW),
          storedHeight_(storedH),
          codec_(codec),
          loader_(loader) {}

    const int width_, height_;
    const int storedWidth_, storedHeight_;
    const PageCodec codec_;
    const std::string loader_;
};

}  // namespace tallowin
