#include "page/page_stream.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>

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

// Cancels the ring and joins the producer on every way out of StreamPage,
// so no thread outlives the call.
class ProducerThread {
  public:
    ProducerThread(PageSource& source, StripRing& ring, int stripRows)
        : ring_(ring), thread_([&source, &ring, stripRows] {
              try {
                  Produce(source, ring, stripRows);
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
    StreamedPdfPage pdf(sink, source.Codec());
    const ByteSink toPdf = [&pdf](const unsigned char* d, std::size_t n) {
        return pdf.Write(d, n);
    };
    const std::unique_ptr<StripEncoder> encoder =
        source.Codec() == PageCodec::Dct
            ? MakeJpegEncoder(width, height, toPdf)
            : MakeFlateUpEncoder(width, height, options.FlateLevel, toPdf);
    if (!encoder) return Status::Failure(HF_ERR_JOB_FAILED, "the page cannot be encoded");

    StripRing ring(options.RingSlots,
                   static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(stripRows));
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

}  // namespace tallowin
