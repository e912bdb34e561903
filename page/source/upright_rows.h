// An image stored turned (EXIF orientation 2..8), held whole, read upright
// a row at a time. Used by the page sources; header-only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace tallowin {

// Orientations 5 to 8 store the image turned a quarter: its stored axes
// are the page's, swapped.
inline bool SwapsAxes(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// Gives the rows of a stored image (w x h, `bytes` bytes a pixel) as it is
// seen upright under EXIF orientation 1..8, as libvips' autorot turns it,
// one row at a time: upright pixel (x, y) is stored pixel Base + x * Dx +
// y * Dy.
class UprightRows {
  public:
    UprightRows(const std::vector<unsigned char>& stored, int w, int h, int orientation,
                int bytes = 3)
        : stored_(stored),
          bytes_(static_cast<std::size_t>(bytes)),
          width_(SwapsAxes(orientation) ? h : w),
          height_(SwapsAxes(orientation) ? w : h),
          block_(static_cast<std::size_t>(width_) * bytes_ * kBlock) {
        const Walk& walk = kWalks[orientation >= 1 && orientation <= 8 ? orientation : 1];
        base_ = walk.Right * (w - 1) + walk.Bottom * static_cast<std::ptrdiff_t>(h - 1) * w;
        dx_ = walk.AcrossX + static_cast<std::ptrdiff_t>(walk.AcrossY) * w;
        dy_ = walk.DownX + static_cast<std::ptrdiff_t>(walk.DownY) * w;
    }
    int Width() const { return width_; }
    int Height() const { return height_; }

    // Row y of the upright image (Width() * bytes bytes), valid until the next
    // call.
    const unsigned char* Row(int y) {
        const unsigned char* stored = stored_.data();
        if (dx_ == 1 || dx_ == -1) {  // a stored row, read as it lies
            std::ptrdiff_t at = base_ + dy_ * y;
            for (int x = 0; x < width_; ++x, at += dx_) {
                std::memcpy(&block_[static_cast<std::size_t>(x) * bytes_],
                            stored + at * static_cast<std::ptrdiff_t>(bytes_), bytes_);
            }
            return block_.data();
        }
        // Turned a quarter, an upright row is a stored column: kBlock of
        // them are made at once, so that the stored rows are read in runs
        // rather than a pixel a row.
        if (y < first_ || y >= first_ + kBlock) {
            first_ = y;
            const int rows = std::min(kBlock, height_ - y);
            for (int x = 0; x < width_; ++x) {
                const std::ptrdiff_t at = base_ + dx_ * x + dy_ * y;
                for (int k = 0; k < rows; ++k) {
                    std::memcpy(&block_[(static_cast<std::size_t>(k) * width_ + x) * bytes_],
                                stored + (at + dy_ * k) * static_cast<std::ptrdiff_t>(bytes_),
                                bytes_);
                }
            }
        }
        return &block_[static_cast<std::size_t>(y - first_) * width_ * bytes_];
    }

  private:
    // Per orientation: whether upright (0, 0) is stored at the right and at
    // the bottom, and the stored step (pixels across, rows down) for one
    // upright pixel across and for one upright row down.
    struct Walk {
        int Right, Bottom, AcrossX, AcrossY, DownX, DownY;
    };
    static constexpr Walk kWalks[9] = {{},
                                       {0, 0, 1, 0, 0, 1},
                                       {1, 0, -1, 0, 0, 1},
                                       {1, 1, -1, 0, 0, -1},
                                       {0, 1, 1, 0, 0, -1},
                                       {0, 0, 0, 1, 1, 0},
                                       {0, 1, 0, -1, 1, 0},
                                       {1, 1, 0, -1, -1, 0},
                                       {1, 0, 0, 1, -1, 0}};

    static constexpr int kBlock = 16;

    const std::vector<unsigned char>& stored_;
    const std::size_t bytes_;
    const int width_, height_;
    std::ptrdiff_t base_ = 0, dx_ = 1, dy_ = 1;
    std::vector<unsigned char> block_;  // kBlock upright rows from first_
    int first_ = -kBlock;
};

}  // namespace tallowin
