// Where a one-page job draws its image: the size on paper a test checks,
// whether the image carries one pixel a printer pixel or fewer that the
// printer enlarges.
#pragma once

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

// The image's size on paper in printer pixels at rx x ry dots per inch,
// from the page's content ("q a b c d e f cm /Im0 Do Q", as the page
// writer draws it: turned, mirrored or not); for a document without that
// content, the image dictionary's /Width and /Height, one image pixel a
// printer pixel. 0 x 0 when it has neither.
inline std::pair<int, int> PlacedImageSize(const std::string& pdf, int rx, int ry) {
    const std::size_t draw = pdf.find(" cm /Im0 Do");
    const std::size_t begin = draw == std::string::npos ? draw : pdf.rfind("q ", draw);
    if (begin != std::string::npos) {
        std::istringstream m(pdf.substr(begin + 2, draw - begin - 2));
        double a = 0, b = 0, c = 0, d = 0;
        if (m >> a >> b >> c >> d) {
            return {static_cast<int>(std::lround((std::abs(a) + std::abs(c)) * rx / 72.0)),
                    static_cast<int>(std::lround((std::abs(b) + std::abs(d)) * ry / 72.0))};
        }
    }
    const std::size_t dict = pdf.find("/Subtype /Image");
    const auto number = [&](const std::string& key) {
        const std::size_t at = pdf.find(key, dict);
        return dict == std::string::npos || at == std::string::npos
                   ? 0
                   : std::atoi(pdf.c_str() + at + key.size());
    };
    return {number("/Width "), number("/Height ")};
}
