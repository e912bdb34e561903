#include "page/page_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "page/encode/strip_encoders.h"
#include "page/stream/streamed_pdf.h"
#include "page/stream/strip_ring.h"

namespace tallowin {

namespace {

// Fills strips with the source's rows until the page is done, the source
// fails or the consumer cancels.
void Produce(PageSource& source, StripRing& ring, int stripRows) {
    const std::size_t rowBytes = static_cast<std::size_t>(source.Width()) * 3;
    Strip* strip = nullptr;
    int rows = 0;
    const Status pumped = source.Pump([&](const unsigned char* row) {
        // A row past the page's height would not fit the page: stop.
        if (++rows > source.Height()) return false;
        if (strip == nullptr) {
            strip = ring.AcquireFree();
            if (strip == nullptr) return false;  // cancelled
        }
        std::memcpy(strip->Bytes.data() + rowBytes * static_cast<std::size_t>(strip->Rows), row,
                    rowBytes);
        if (++strip->Rows == stripRows) {
            ring.Publish();
            strip = nullptr;
        }
        return true;
    });
    if (rows > source.Height()) {
        ring.Fail(Status::Failure(HF_ERR_DAMAGED, "the image gave more rows than the page has"));
        return;
    }
    if (!pumped.Ok()) {
        ring.Fail(pumped);
        return;
    }
    if (strip != nullptr) ring.Publish();
    ring.Finish();
}

// Fills strips of planes (page_codec.h) with the source's plane rows. The
// planes' rows come interleaved but not in step (each plane's resampler
// gives a row when its own source rows are in): a row of a plane whose
// part of the strip is full waits in that plane's queue, a few rows at
// most, until the next strip.
class PlaneStrips {
  public:
    PlaneStrips(StripRing& ring, const PlaneLayout& layout, int width, int height, int groups)
        : ring_(ring), layout_(layout), width_(width), groups_(groups) {
        for (int c = 0; c < layout.Count; ++c) heights_[c] = PlaneHeight(layout, c, height);
    }

    // False when the ring was cancelled, or when a plane gave more rows
    // than the page has (Overran).
    bool Take(int c, const unsigned char* row) {
        if (c < 0 || c >= layout_.Count || ++given_[c] > heights_[c]) {
            overran_ = true;
            return false;
        }
        // Straight into the strip when nothing of this plane waits.
        if (waiting_[c].empty() && (strip_ != nullptr || Acquire()) &&
            filled_[c] < PlaneStripRows(layout_, c, groups_)) {
            CopyRow(c, row);
            if (Full()) Publish();
            return true;
        }
        if (strip_ == nullptr && stopped_) return false;
        const auto bytes = static_cast<std::size_t>(PlaneWidth(layout_, c, width_));
        waiting_[c].insert(waiting_[c].end(), row, row + bytes);
        return Fill();
    }

    // Hands on what is left; false when the ring was cancelled.
    bool Finish() {
        for (;;) {
            if (!Fill()) return false;
            if (strip_ != nullptr) {
                Publish();
            } else {
                return true;
            }
        }
    }

    bool Overran() const { return overran_; }

  private:
    bool Acquire() {
        strip_ = ring_.AcquireFree();
        if (strip_ == nullptr) {
            stopped_ = true;
            return false;
        }
        for (int& f : filled_) f = 0;
        return true;
    }

    // The next row of plane c's part, its samples past the plane's width
    // repeating its last.
    void CopyRow(int c, const unsigned char* row) {
        const auto width = static_cast<std::size_t>(PlaneWidth(layout_, c, width_));
        const auto stride = static_cast<std::size_t>(PlaneStride(layout_, c, width_));
        unsigned char* to = strip_->Bytes.data() + PlaneStripOffset(layout_, c, width_, groups_) +
                            stride * static_cast<std::size_t>(filled_[c]++);
        std::memcpy(to, row, width);
        std::memset(to + width, to[width - 1], stride - width);
    }

    bool Full() const {
        for (int c = 0; c < layout_.Count; ++c) {
            if (filled_[c] < PlaneStripRows(layout_, c, groups_)) return false;
        }
        return true;
    }

    // Moves waiting rows into the strip, handing it on once every plane's
    // part is full.
    bool Fill() {
        bool any = false;
        for (int c = 0; c < layout_.Count; ++c) any = any || !waiting_[c].empty();
        if (!any) return true;
        if (strip_ == nullptr && !Acquire()) return false;
        for (int c = 0; c < layout_.Count; ++c) {
            const auto width = static_cast<std::size_t>(PlaneWidth(layout_, c, width_));
            const int rows = PlaneStripRows(layout_, c, groups_);
            std::size_t taken = 0;
            for (; filled_[c] < rows && taken < waiting_[c].size(); taken += width) {
                CopyRow(c, waiting_[c].data() + taken);
            }
            waiting_[c].erase(waiting_[c].begin(),
                              waiting_[c].begin() + static_cast<std::ptrdiff_t>(taken));
        }
        if (Full()) Publish();
        return true;
    }

    void Publish() {
        strip_->Rows = filled_[0];
        ring_.Publish();
        strip_ = nullptr;
    }

    StripRing& ring_;
    const PlaneLayout layout_;
    const int width_, groups_;
    int heights_[3] = {};
    int given_[3] = {};
    int filled_[3] = {};
    std::vector<unsigned char> waiting_[3];
    Strip* strip_ = nullptr;
    bool overran_ = false;
    bool stopped_ = false;  // the ring was cancelled
};

void ProducePlanes(PageSource& source, StripRing& ring, int groups) {
    PlaneStrips strips(ring, source.Planes(), source.Width(), source.Height(), groups);
    const Status pumped =
        source.PumpPlanes([&](int c, const unsigned char* row) { return strips.Take(c, row); });
    if (strips.Overran()) {
        ring.Fail(Status::Failure(HF_ERR_DAMAGED, "the image gave more rows than the page has"));
        return;
    }
    if (!pumped.Ok()) {
        ring.Fail(pumped);
        return;
    }
    if (strips.Finish()) ring.Finish();
}

// Block rows a strip of planes holds: about stripRows luma rows.
int PlaneGroups(const PlaneLayout& layout, int stripRows) {
    return std::max(1, stripRows / (8 * layout.V[0]));
}

// Cancels the ring and joins the producer on every way out of StreamPage,
// so no thread outlives the call.
class ProducerThread {
  public:
    ProducerThread(PageSource& source, StripRing& ring, int stripRows)
        : ring_(ring), thread_([&source, &ring, stripRows] {
              try {
                  if (source.Planes().Count > 0) {
                      ProducePlanes(source, ring, PlaneGroups(source.Planes(), stripRows));
                  } else {
                      Produce(source, ring, stripRows);
                  }
              } catch (...) {
                  ring.Fail(Status::Failure(HF_ERR_DAMAGED, "the image could not be decoded"));
              }
          }) {}
    ~ProducerThread() {
        ring_.Cancel();
        thread_.join();
    }
    ProducerThread(const ProducerThread&) = delete;
    ProducerThread& operator=(const ProducerThread&) = delete;

  private:
    StripRing& ring_;
    std::thread thread_;
};

Status Refused() {
    return Status::Failure(HF_ERR_JOB_FAILED, "the page could not be sent");
}

Status StreamOrThrow(PageSource& source, const PageGeometry& g, const ByteSink& sink,
                     const StopQuery& stop, const PageStreamOptions& options) {
    const int width = source.Width(), height = source.Height();
    const int stripRows = std::max(1, options.StripRows);
    const PlaneLayout& planes = source.Planes();
    StreamedPdfPage pdf(sink, source.Codec(), planes.Count == 1);
    const ByteSink toPdf = [&pdf](const unsigned char* d, std::size_t n) {
        return pdf.Write(d, n);
    };
    const int groups = PlaneGroups(planes, stripRows);
    const std::unique_ptr<StripEncoder> encoder =
        planes.Count > 0 ? MakeJpegPlanesEncoder(width, height, planes, groups, toPdf)
        : source.Codec() == PageCodec::Dct
            ? MakeJpegEncoder(width, height, toPdf)
            : MakeFlateUpEncoder(width, height, options.FlateLevel, toPdf);
    if (!encoder) return Status::Failure(HF_ERR_JOB_FAILED, "the page cannot be encoded");

    StripRing ring(options.RingSlots,
                   planes.Count > 0
                       ? PlaneStripOffset(planes, planes.Count, width, groups)
                       : static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(stripRows));
    // The producer starts decoding while the document's head goes out.
    const ProducerThread producer(source, ring, stripRows);
    if (!pdf.Begin(g, width, height)) return Refused();

    int rows = 0;
    while (Strip* strip = ring.AcquireFull()) {
        if (stop && stop()) return Status::Failure(HF_ERR_UNREACHABLE, "stop requested");
        const bool ok = encoder->Encode(strip->Bytes.data(), strip->Rows);
        rows += strip->Rows;
        ring.Release();
        if (!ok) return Refused();
    }
    if (Status failure = ring.Failure(); !failure.Ok()) return failure;
    if (rows != height) return Status::Failure(HF_ERR_DAMAGED, "the image ended early");
    if (options.BeforeEnd) {
        if (Status checked = options.BeforeEnd(); !checked.Ok()) return checked;
    }
    if (!encoder->End() || !pdf.Finish()) return Refused();
    return Status::Success();
}

// The byte ranges of a JPEG file's first length bytes that make its image:
// all of them but the application segments other than JFIF's (APP0) and
// Adobe's (APP14), and the comments, before the first scan. A reader that
// honoured an EXIF orientation inside a PDF's image would turn the picture
// a second time, and a camera's thumbnail is only bytes to send. What does
// not parse as segments is kept whole.
std::vector<std::pair<std::uint64_t, std::uint64_t>> ImageSegments(int fd, std::uint64_t length) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> kept;
    std::uint64_t from = 0, at = 2;  // after the start of image
    unsigned char head[4] = {};
    while (at + 4 <= length && ::pread(fd, head, 4, static_cast<off_t>(at)) == 4 &&
           head[0] == 0xFF) {
        const int marker = head[1];
        if (marker == 0xDA) break;  // the first scan: the rest is image data
        const std::uint64_t next = at + 2 + (static_cast<std::uint64_t>(head[2]) << 8 | head[3]);
        if (marker < 0xC0 || marker == 0xFF || next > length) break;
        if ((marker >= 0xE1 && marker <= 0xED) || marker == 0xEF || marker == 0xFE) {
            if (at > from) kept.emplace_back(from, at);
            from = next;
        }
        at = next;
    }
    kept.emplace_back(from, length);
    return kept;
}

Status CopyVerbatim(int fd, const JpegRows::Verbatim& jpeg, int orientation, const PageGeometry& g,
                    int width, int height, const ByteSink& sink, const StopQuery& stop,
                    const PageStreamOptions& options) {
    StreamedPdfPage pdf(sink, PageCodec::Dct, jpeg.Components == 1);
    if (!pdf.Begin(g, width, height,
                   {.Width = jpeg.Width,
                    .Height = jpeg.Height,
                    .Orientation = orientation,
                    .Smooth = true})) {
        return Refused();
    }
    std::vector<unsigned char> chunk(256 * 1024);
    // Copies [from, to) of the file into the image stream.
    const auto copy = [&](std::uint64_t from, std::uint64_t to) -> Status {
        for (std::uint64_t at = from; at < to;) {
            if (stop && stop()) return Status::Failure(HF_ERR_UNREACHABLE, "stop requested");
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), to - at));
            const ssize_t got = ::pread(fd, chunk.data(), want, static_cast<off_t>(at));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return Status::Failure(HF_ERR_DAMAGED, "the image data ends early");
            if (!pdf.Write(chunk.data(), static_cast<std::size_t>(got))) return Refused();
            at += static_cast<std::uint64_t>(got);
        }
        return Status::Success();
    };
    for (const auto& [from, to] : ImageSegments(fd, jpeg.Length)) {
        if (Status copied = copy(from, to); !copied.Ok()) return copied;
    }
    if (options.BeforeEnd) {
        if (Status checked = options.BeforeEnd(); !checked.Ok()) return checked;
    }
    return pdf.Finish() ? Status::Success() : Refused();
}

}  // namespace

Status StreamPage(PageSource& source, const PageGeometry& g, const ByteSink& sink,
                  const StopQuery& stop, const PageStreamOptions& options) {
    if (!sink) return Status::Failure(HF_ERR_JOB_FAILED, "no sink for the page");
    try {
        return StreamOrThrow(source, g, sink, stop, options);
    } catch (const std::exception& e) {
        return Status::Failure(HF_ERR_JOB_FAILED, e.what());
    } catch (...) {
        return Status::Failure(HF_ERR_JOB_FAILED, "the page could not be written");
    }
}

Status StreamVerbatimJpeg(int fd, const JpegRows::Verbatim& jpeg, int orientation,
                          const PageGeometry& g, int width, int height, const ByteSink& sink,
                          const StopQuery& stop, const PageStreamOptions& options) {
    if (!sink) return Status::Failure(HF_ERR_JOB_FAILED, "no sink for the page");
    try {
        return CopyVerbatim(fd, jpeg, orientation, g, width, height, sink, stop, options);
    } catch (...) {
        return Status::Failure(HF_ERR_JOB_FAILED, "the page could not be written");
    }
}

}  // namespace tallowin
