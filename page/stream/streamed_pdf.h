// A one-page PDF whose single image arrives in pieces, written straight to a
// sink as it comes: no page buffer, no temporary file.
//
// The stream's length is an indirect object written after the stream, so
// nothing has to be known before the first image byte. The document's last
// part (the length, the cross-reference table, the trailer) is written only
// by Finish: a writer abandoned before Finish leaves a document no reader
// accepts, which is what a caller that cancels a job on failure wants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ports/services.h"
#include "page/page_codec.h"
#include "util/sinks.h"

namespace tallowin {

// The image's own pixels on the page, when they are not the page's: by
// default one image pixel a printer pixel, upright, unsmoothed.
struct ImageOnPage {
    int Width = 0, Height = 0;  // the image as stored; 0: the page's size
    int Orientation = 1;        // the EXIF orientation that turns it upright
    bool Smooth = false;        // asks readers to interpolate as they enlarge
};

class StreamedPdfPage {
  public:
    // Nothing is written until Begin. grey: a DCT image of one component
    // (/DeviceGray), else three (/DeviceRGB; a three-component DCT image
    // is YCbCr, which readers turn to RGB by default).
    StreamedPdfPage(const ByteSink& sink, PageCodec codec, bool grey = false);

    // Writes everything up to the image stream's first byte: a page of
    // g.MediaWidthPt x g.MediaHeightPt whose only content is the image, its
    // top-left corner at (g.LeftPt, g.TopPt) from the sheet's top-left,
    // width x height printer pixels large (width * 72 / g.Rx points), marked
    // for no smoothing. With image: that image, turned upright by its
    // orientation and scaled to fill the same width x height printer
    // pixels. False when g or a size is unusable or the sink refuses.
    bool Begin(const PageGeometry& g, int width, int height, const ImageOnPage& image = {});
    // Appends image stream bytes; false once the sink has refused.
    bool Write(const unsigned char* data, std::size_t size);
    // Ends the stream and the document; false when the sink refuses.
    bool Finish();

    std::uint64_t BytesWritten() const { return offset_; }

  private:
    bool Put(const std::string& text);
    bool StartObject(int number);

    const ByteSink& sink_;
    const PageCodec codec_;
    const bool grey_;
    bool failed_ = false;
    bool begun_ = false;
    std::uint64_t offset_ = 0;
    std::uint64_t streamStart_ = 0;
    std::vector<std::uint64_t> objectOffsets_;  // index = object number - 1
};

}  // namespace tallowin
