// How the image bytes of a page are encoded: the page source chooses, the
// encoder and the PDF writer follow.
#pragma once

namespace tallowin {

enum class PageCodec {
    Dct,     // the image bytes are a baseline JPEG, RGB, Width x Height
    FlateUp  // zlib stream of rows, each led by PNG filter byte 2 (Up), RGB
};

}  // namespace tallowin
