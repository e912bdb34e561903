#include "page/encode/strip_encoders.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace tallowin {

namespace {

constexpr std::size_t kOutChunk = 64 * 1024;

// ---- JPEG ---------------------------------------------------------------

// libjpeg reports fatal errors through error_exit, which must not return.
// It jumps back to the setjmp in the one small function that called into
// libjpeg; those functions hold no object with a destructor, so the jump
// skips nothing.
struct JpegError {
    jpeg_error_mgr Mgr;
    std::jmp_buf Jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->Jump, 1);
}
void JpegSilence(j_common_ptr, int) {}

// Quality 92: the grain of a noise-heavy photo is most of its page's
// bytes, and at 92 its luma takes about a quarter fewer than at 95, while
// the page stays within 40 dB of an exact resample of its source.
constexpr int kJpegQuality = 92;

class JpegEncoder final : public StripEncoder {
  public:
    // layout.Count 0: RGB rows; else planes in strips of `groups` block rows.
    JpegEncoder(int width, int height, const PlaneLayout& layout, int groups, ByteSink sink)
        : width_(width),
          height_(height),
          layout_(layout),
          groups_(groups),
          sink_(std::move(sink)),
          buffer_(kOutChunk) {
        cinfo_.err = jpeg_std_error(&error_.Mgr);
        error_.Mgr.error_exit = JpegErrorExit;
        error_.Mgr.emit_message = JpegSilence;
        dest_.init_destination = InitDestination;
        dest_.empty_output_buffer = EmptyOutputBuffer;
        dest_.term_destination = TermDestination;
        ok_ = Start();
    }
    ~JpegEncoder() override {
        if (created_) jpeg_destroy_compress(&cinfo_);
    }
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    bool Encode(const unsigned char* rows, int count) override {
        if (!ok_) return false;
        if (layout_.Count > 0) {
            ok_ = EncodePlanes(rows, count) && !refused_;
            return ok_;
        }
        rowPointers_.resize(static_cast<std::size_t>(count));
        const std::size_t stride = static_cast<std::size_t>(width_) * 3;
        for (int i = 0; i < count; ++i) {
            rowPointers_[static_cast<std::size_t>(i)] = const_cast<JSAMPROW>(rows + stride * i);
        }
        ok_ = WriteRows(count) && !refused_;
        return ok_;
    }

    bool End() override {
        if (!ok_) return false;
        ok_ = FinishCompress() && !refused_;
        return ok_;
    }

  private:
    bool Start() {
        if (setjmp(error_.Jump)) return false;
        jpeg_create_compress(&cinfo_);
        created_ = true;
        cinfo_.client_data = this;
        cinfo_.dest = &dest_;
        cinfo_.image_width = static_cast<JDIMENSION>(width_);
        cinfo_.image_height = static_cast<JDIMENSION>(height_);
        const bool grey = layout_.Count == 1;
        cinfo_.input_components = grey ? 1 : 3;
        cinfo_.in_color_space = layout_.Count == 0 ? JCS_RGB : grey ? JCS_GRAYSCALE : JCS_YCbCr;
        jpeg_set_defaults(&cinfo_);
        jpeg_set_quality(&cinfo_, kJpegQuality, TRUE);
        // RGB rows keep every chroma sample; planes keep their own.
        for (int c = 0; c < cinfo_.num_components; ++c) {
            cinfo_.comp_info[c].h_samp_factor = layout_.Count == 0 ? 1 : layout_.H[c];
            cinfo_.comp_info[c].v_samp_factor = layout_.Count == 0 ? 1 : layout_.V[c];
        }
        cinfo_.raw_data_in = layout_.Count > 0 ? TRUE : FALSE;
        cinfo_.optimize_coding = FALSE;
        jpeg_start_compress(&cinfo_, TRUE);
        return true;
    }

    bool WriteRows(int count) {
        if (setjmp(error_.Jump)) return false;
        JDIMENSION done = 0;
        while (done < static_cast<JDIMENSION>(count)) {
            const JDIMENSION n = jpeg_write_scanlines(&cinfo_, rowPointers_.data() + done,
                                                      static_cast<JDIMENSION>(count) - done);
            if (n == 0) return false;
            done += n;
        }
        return true;
    }

    // Hands libjpeg one block row of every plane at a time; in a strip's
    // last, short block row the planes' last rows stand in for the rows
    // below the page.
    bool EncodePlanes(const unsigned char* strip, int count) {
        const int planes = layout_.Count;
        int rows[3] = {};
        for (int c = 0; c < planes; ++c) {
            rows[c] = std::min(PlaneStripRows(layout_, c, groups_),
                               PlaneHeight(layout_, c, height_) - planeRowsDone_[c]);
            if (rows[c] <= 0) return false;
            planeRowsDone_[c] += rows[c];
        }
        const int groupRows = 8 * layout_.V[0];
        for (int g = 0; g * groupRows < count; ++g) {
            JSAMPARRAY image[3] = {};
            for (int c = 0; c < planes; ++c) {
                const unsigned char* plane = strip + PlaneStripOffset(layout_, c, width_, groups_);
                const std::size_t stride =
                    static_cast<std::size_t>(PlaneStride(layout_, c, width_));
                const int blockRows = 8 * layout_.V[c];
                JSAMPROW* pointers = &planePointers_[static_cast<std::size_t>(c) * 32];
                for (int j = 0; j < blockRows; ++j) {
                    const int r = std::min(g * blockRows + j, rows[c] - 1);
                    pointers[j] =
                        const_cast<JSAMPROW>(plane + stride * static_cast<std::size_t>(r));
                }
                image[c] = pointers;
            }
            if (!WriteRaw(image, static_cast<JDIMENSION>(groupRows))) return false;
        }
        return true;
    }

    bool WriteRaw(JSAMPIMAGE image, JDIMENSION lines) {
        if (setjmp(error_.Jump)) return false;
        return jpeg_write_raw_data(&cinfo_, image, lines) == lines;
    }

    bool FinishCompress() {
        if (setjmp(error_.Jump)) return false;
        jpeg_finish_compress(&cinfo_);
        return true;
    }

    static JpegEncoder& Self(j_compress_ptr cinfo) {
        return *static_cast<JpegEncoder*>(cinfo->client_data);
    }
    static void InitDestination(j_compress_ptr cinfo) {
        JpegEncoder& self = Self(cinfo);
        self.dest_.next_output_byte = self.buffer_.data();
        self.dest_.free_in_buffer = self.buffer_.size();
    }
    // Called with the buffer full. A refusal is remembered and the bytes
    // dropped; the encoder checks it after each call into libjpeg.
    static boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
        JpegEncoder& self = Self(cinfo);
        self.Hand(self.buffer_.size());
        InitDestination(cinfo);
        return TRUE;
    }
    static void TermDestination(j_compress_ptr cinfo) {
        JpegEncoder& self = Self(cinfo);
        self.Hand(self.buffer_.size() - self.dest_.free_in_buffer);
    }
    void Hand(std::size_t size) {
        if (refused_ || size == 0) return;
        try {
            refused_ = !sink_(buffer_.data(), size);
        } catch (...) {
            refused_ = true;
        }
    }

    const int width_;
    const int height_;
    const PlaneLayout layout_;
    const int groups_;
    const ByteSink sink_;
    std::vector<JOCTET> buffer_;
    std::vector<JSAMPROW> rowPointers_;
    // A block row's pointers: up to 8 * 4 rows for each of three planes.
    std::vector<JSAMPROW> planePointers_ = std::vector<JSAMPROW>(3 * 32);
    int planeRowsDone_[3] = {};
    JpegError error_{};
    jpeg_compress_struct cinfo_{};
    jpeg_destination_mgr dest_{};
    bool created_ = false;
    bool refused_ = false;
    bool ok_ = false;
};

// ---- Flate with the Up predictor ----------------------------------------

// ISA-L's deflate streams a zlib stream at several times zlib's speed for
// the same size (level 1: a twelve-megapixel page in about a tenth of the
// time), which keeps the encoding thread from being the slower one.
class FlateUpEncoder final : public StripEncoder {
  public:
    FlateUpEncoder(int width, int level, ByteSink sink)
        : rowBytes_(static_cast<std::size_t>(width) * 3),
          sink_(std::move(sink)),
          previous_(rowBytes_, 0),
          filtered_((rowBytes_ + 1) * kRowsAtOnce),
          out_(kOutChunk) {
        isal_deflate_init(&z_);
        z_.gzip_flag = IGZIP_ZLIB;
        z_.level = static_cast<std::uint32_t>(level);
        if (level > 0) {
            levelBuf_.resize(LevelBufferSize(level));
            z_.level_buf = levelBuf_.data();
            z_.level_buf_size = static_cast<std::uint32_t>(levelBuf_.size());
        }
    }

    bool Encode(const unsigned char* rows, int count) override {
        for (int done = 0; ok_ && done < count;) {
            const int n = std::min(kRowsAtOnce, count - done);
            Filter(rows + rowBytes_ * static_cast<std::size_t>(done), n);
            ok_ = Deflate(filtered_.data(), (rowBytes_ + 1) * static_cast<std::size_t>(n), false);
            done += n;
        }
        return ok_;
    }

    bool End() override {
        if (ok_) ok_ = Deflate(nullptr, 0, true);
        return ok_;
    }

  private:
    static constexpr int kRowsAtOnce = 8;

    static std::size_t LevelBufferSize(int level) {
        switch (level) {
            case 1:
                return ISAL_DEF_LVL1_DEFAULT;
            case 2:
                return ISAL_DEF_LVL2_DEFAULT;
            default:
                return ISAL_DEF_LVL3_DEFAULT;
        }
    }

    // Each row led by filter type 2 (Up), every byte minus the one above.
    void Filter(const unsigned char* rows, int count) {
        unsigned char* o = filtered_.data();
        for (int r = 0; r < count; ++r) {
            const unsigned char* row = rows + rowBytes_ * static_cast<std::size_t>(r);
            *o++ = 2;
            const unsigned char* above = previous_.data();
            for (std::size_t i = 0; i < rowBytes_; ++i) {
                o[i] = static_cast<unsigned char>(row[i] - above[i]);
            }
            o += rowBytes_;
            std::memcpy(previous_.data(), row, rowBytes_);
        }
    }

    bool Deflate(const unsigned char* data, std::size_t size, bool last) {
        z_.next_in = const_cast<std::uint8_t*>(data);
        z_.avail_in = static_cast<std::uint32_t>(size);
        z_.end_of_stream = last ? 1 : 0;
        z_.flush = NO_FLUSH;
        for (;;) {
            z_.next_out = out_.data();
            z_.avail_out = static_cast<std::uint32_t>(out_.size());
            if (isal_deflate(&z_) != COMP_OK) return false;
            const std::size_t produced = out_.size() - z_.avail_out;
            if (produced > 0 && !Hand(produced)) return false;
            if (last) {
                if (z_.internal_state.state == ZSTATE_END) return true;
            } else if (z_.avail_in == 0 && z_.avail_out != 0) {
                return true;
            }
        }
    }

    bool Hand(std::size_t size) {
        try {
            return sink_(out_.data(), size);
        } catch (...) {
            return false;
        }
    }

    const std::size_t rowBytes_;
    const ByteSink sink_;
    std::vector<unsigned char> previous_;
    std::vector<unsigned char> filtered_;
    std::vector<unsigned char> out_;
    std::vector<std::uint8_t> levelBuf_;
    isal_zstream z_{};
    bool ok_ = true;
};

}  // namespace

std::unique_ptr<StripEncoder> MakeJpegEncoder(int width, int height, ByteSink sink) {
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        return nullptr;
    }
    return std::make_unique<JpegEncoder>(width, height, PlaneLayout{}, 0, std::move(sink));
}

std::unique_ptr<StripEncoder> MakeJpegPlanesEncoder(int width, int height,
                                                    const PlaneLayout& layout, int groups,
                                                    ByteSink sink) {
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION ||
        (layout.Count != 1 && layout.Count != 3) || groups <= 0) {
        return nullptr;
    }
    for (int c = 0; c < layout.Count; ++c) {
        if (layout.H[c] < 1 || layout.H[c] > 4 || layout.V[c] < 1 || layout.V[c] > 4 ||
            layout.H[c] > layout.H[0] || layout.V[c] > layout.V[0]) {
            return nullptr;
        }
    }
    return std::make_unique<JpegEncoder>(width, height, layout, groups, std::move(sink));
}

std::unique_ptr<StripEncoder> MakeFlateUpEncoder(int width, int height, int level, ByteSink sink) {
    if (width <= 0 || height <= 0 || level < 0 || level > 3) return nullptr;
    return std::make_unique<FlateUpEncoder>(width, level, std::move(sink));
}

}  // namespace tallowin
