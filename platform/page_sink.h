// Where a streamed page's document goes, and how a long run is asked to end.
#pragma once

#include <cstddef>
#include <functional>

// Receives the document's bytes in order, in pieces of any size. Returns
// false to refuse them, which ends the document. Same shape as PdfSink, so
// the spooler's request writer serves both.
using PageSink = std::function<bool(const unsigned char* data, std::size_t size)>;

// Asked between strips: true once the page should be abandoned.
using StopQuery = std::function<bool()>;
