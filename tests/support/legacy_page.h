// Today's page, built the way the print job builds it now: the whole image
// resampled by libvips (linear kernel), encoded whole (JPEG quality 95 for
// JPEG files, BGRX rows otherwise), then laid on the page by cairo
// (WritePdfPage). The reference the streamed page is compared with in the
// tests.
#pragma once

#include <string>

#include "engine/ports/services.h"
#include "tests/support/pdf_page.h"

using namespace tallowin;

namespace legacy {

// Writes the page of the image file at path, width x height printer pixels
// upright, to sink. False on any failure.
bool WritePage(const std::string& path, const PageGeometry& g, int width, int height,
               const PdfSink& sink);

}  // namespace legacy
