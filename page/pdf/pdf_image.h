// A PDF document as the engine's Image: loaded like a picture, printed as
// one job of all its pages (Image::IsDocument, Image::Document).
#pragma once

#include <memory>
#include <string>

#include "engine/ports/page.h"
#include "page/pdf/pdf_document.h"
#include "util/unique_fd.h"

namespace tallowin {

// Opens the document fd reads (the file at path, described by identity) and
// checks it as PdfDocument::Open does, failing as it fails. The Image keeps
// fd; its Width and Height are the first page as shown in whole points,
// XDpi = YDpi = 72. Its Page fails (a document has no single page); its
// Document hands over the opened document the first time and opens the
// file again from fd after that. One thread at a time; nothing throws.
Result<std::unique_ptr<Image>> OpenPdfImage(UniqueFd fd, const std::string& path,
                                            const FileIdentity& identity,
                                            const PdfLimits& limits = {});

}  // namespace tallowin
