// The two kinds of stream the page pipeline hands on, named once for every
// stage, the engine's page writer and the printer: bytes in order, and rows
// of pixels in order. A sink that returns false refuses what it was handed,
// which ends the stream; the caller then stops and reports it.
#pragma once

#include <cstddef>
#include <functional>

namespace tallowin {

// Takes a document's or an encoder's bytes in order, in pieces of any size.
using ByteSink = std::function<bool(const unsigned char* data, std::size_t size)>;

// Takes one row of pixels, top to bottom; its length is the stage's row
// width, agreed beforehand.
using RowSink = std::function<bool(const unsigned char* row)>;

}  // namespace tallowin
