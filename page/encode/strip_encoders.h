// Encoders that take a page's RGB rows a strip at a time and hand their
// output on as it is produced, so that neither the rows nor the encoded
// image are ever held whole.
#pragma once

#include <cstddef>
#include <memory>

#include "page/page_codec.h"
#include "util/sinks.h"

namespace tallowin {

// Each encoder hands its bytes to a ByteSink as they are made; a sink that
// refuses them stops the encoder.

class StripEncoder {
  public:
    virtual ~StripEncoder() = default;
    // rows: count rows of width * 3 bytes (R, G, B), packed; for a planes
    // encoder a strip of planes (page_codec.h) whose luma plane holds count
    // rows. False when the encoder failed or the sink refused; the encoder
    // is then unusable.
    virtual bool Encode(const unsigned char* rows, int count) = 0;
    // After exactly height rows: flushes the rest. False as for Encode.
    virtual bool End() = 0;
};

// Baseline JPEG of RGB rows, quality 92, no chroma subsampling (4:4:4), no
// metadata beyond the JFIF header, standard Huffman tables: what libvips'
// jpegsave writes with Q 92 and strip.
std::unique_ptr<StripEncoder> MakeJpegEncoder(int width, int height, ByteSink sink);

// The same JPEG of planes given as they are (no colour conversion, no
// chroma resampling), sampled as layout says (Count 1: grey; 3: Y, Cb, Cr,
// plane 0's factors the largest), in strips of `groups` block rows. Null
// for a layout libjpeg cannot write.
std::unique_ptr<StripEncoder> MakeJpegPlanesEncoder(int width, int height,
                                                    const PlaneLayout& layout, int groups,
                                                    ByteSink sink);

// zlib stream of the rows, each led by PNG filter 2 (Up: every byte minus
// the byte above it; the first row minus zeros), which PDF's FlateDecode
// with /Predictor 12 undoes. level: ISA-L's deflate level, 0 (fastest)
// to 3 (smallest).
std::unique_ptr<StripEncoder> MakeFlateUpEncoder(int width, int height, int level, ByteSink sink);

}  // namespace tallowin
