// One page printed as it is decoded: the image's rows go from the decoder
// and resampler (one thread) through a small ring of strips to the encoder
// and the PDF writer (the calling thread), and on to the sink. Memory stays
// a few strips whatever the page's size (except for turned images, see
// PageSource), and decoding overlaps encoding.
#pragma once

#include <cstddef>
#include <functional>

#include "engine/ports/services.h"
#include "engine/status.h"
#include "page/source/jpeg_rows.h"
#include "page/source/page_source.h"
#include "util/sinks.h"

namespace tallowin {

// Asked between strips: true once the page should be abandoned.
using StopQuery = std::function<bool()>;

struct PageStreamOptions {
    int StripRows = 32;         // rows handed over at a time
    std::size_t RingSlots = 4;  // strips in flight between the threads
    // Deflate level for lossless pages, ISA-L's 0..3. On a 12 MP photo
    // enlarged to 4800 x 3600, level 1 writes 19 MB where zlib's level 1
    // does, in a fraction of its time; level 0 writes a third more.
    int FlateLevel = 1;
    // Called once every row was read, before the document's end goes out
    // (null: nothing to check). A failure ends the page as a damaged one
    // does, with that status: the file changed under the decoder, say.
    std::function<Status()> BeforeEnd;
};

// Writes a one-page PDF of source's rows to sink: the page of g's media
// size with the image at the printable area's top-left, exactly
// source.Width() x source.Height() printer pixels, JPEG (DCT, quality 92)
// for JPEG sources and lossless (Flate, PNG Up predictor) for the others.
// A source that comes as planes (PageSource::Planes) gives a JPEG of those
// planes in their sampling (grey: /DeviceGray), strips of whole block rows
// passing between the threads; RGB rows give a 4:4:4 JPEG.
//
// The document is complete only on success. When the pixels turn out
// damaged (HF_ERR_DAMAGED, libvips' words), the sink refuses
// (HF_ERR_JOB_FAILED), an encoder fails (HF_ERR_JOB_FAILED), BeforeEnd
// fails (its status) or stop says so (HF_ERR_UNREACHABLE, "stop
// requested"), the sink has received a
// truncated document without its cross-reference table and trailer, and
// the caller should cancel the job. sink and stop are called on the calling
// thread only; both threads have ended when this returns. Never throws.
Status StreamPage(PageSource& source, const PageGeometry& g, const ByteSink& sink,
                  const StopQuery& stop = {}, const PageStreamOptions& options = {});

// Writes a one-page PDF whose image is the JPEG file on fd itself: its
// first jpeg.Length bytes as they are (JpegRows::CheckVerbatim found a
// reader decodes them as libjpeg does), less the application segments
// other than JFIF's and Adobe's and the comments, drawn turned upright by
// orientation over the same width x height printer pixels StreamPage
// fills, marked for smoothing. For a page larger than its picture: the
// printer enlarges it as it renders the page, and nothing is decoded,
// resampled or encoded again here. Reads fd with pread (its offset stays);
// the caller keeps fd. A file that ends before Length fails with
// HF_ERR_DAMAGED; otherwise fails as StreamPage does.
Status StreamVerbatimJpeg(int fd, const JpegRows::Verbatim& jpeg, int orientation,
                          const PageGeometry& g, int width, int height, const ByteSink& sink,
                          const StopQuery& stop = {}, const PageStreamOptions& options = {});

}  // namespace tallowin
