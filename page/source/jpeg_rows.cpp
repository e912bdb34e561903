#include "page/source/jpeg_rows.h"

#include <fcntl.h>
#include <unistd.h>

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <string>
#include <vector>

#include "util/unique_fd.h"

namespace tallowin {

namespace {

constexpr std::size_t kInputChunk = 64 * 1024;
constexpr int kRowsAtOnce = 16;

}  // namespace

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the setjmp in the one small function that called into
// libjpeg, and those functions hold no object with a destructor.
struct JpegRows::Decoder {
    struct Error {
        jpeg_error_mgr Mgr;
        std::jmp_buf Jump;
    };

    Decoder() = default;
    ~Decoder() {
        if (Created) jpeg_destroy_decompress(&Info);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    Error Err{};
    jpeg_decompress_struct Info{};
    jpeg_source_mgr Source{};
    UniqueFd Fd;
    off_t Offset = 0;
    bool Created = false;
    bool EndedEarly = false;   // the file ended before the image did
    bool OutOfMemory = false;  // the decode needs more than max_memory_to_use
    std::string Words;         // libjpeg's message for its fatal error or first warning
    std::vector<JOCTET> Input = std::vector<JOCTET>(kInputChunk);
    std::vector<unsigned char> Rows;
    std::vector<JSAMPROW> Pointers;
};

namespace {

using Decoder = JpegRows::Decoder;

Decoder& Self(j_decompress_ptr cinfo) {
    return *static_cast<Decoder*>(cinfo->client_data);
}

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<Decoder::Error*>(cinfo->err);
    char words[JMSG_LENGTH_MAX] = {};
    err->Mgr.format_message(cinfo, words);
    static_cast<Decoder*>(cinfo->client_data)->Words = words;
    static_cast<Decoder*>(cinfo->client_data)->OutOfMemory =
        err->Mgr.msg_code == JERR_NO_BACKING_STORE || err->Mgr.msg_code == JERR_OUT_OF_MEMORY;
    std::longjmp(err->Jump, 1);
}

// Warnings are counted and the first one's words kept; nothing is printed.
// libjpeg warns where the data is corrupt but decoding can go on (a scan
// that ends before its image, bytes that are no Huffman code, restart
// markers out of order) and pads or guesses the rest: every warning raised
// while the header and the rows are read makes the picture damaged, as
// libvips' loader does with fail_on=warning on the other JPEG path, so both
// paths give the same verdict. None is treated as harmless: the ones that
// are (bytes after the last scan, before the end marker) come only after
// the last row, which neither path reads on to; valid files written by
// libvips, cjpeg and jpegtran (baseline, progressive, arithmetic, restart
// intervals, EXIF, ICC) raise none.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    if (cinfo->err->num_warnings++ == 0) {
        char words[JMSG_LENGTH_MAX] = {};
        cinfo->err->format_message(cinfo, words);
        static_cast<Decoder*>(cinfo->client_data)->Words = words;
    }
}

void InitSource(j_decompress_ptr) {}

// Reads on at the decoder's own offset: the descriptor is a duplicate, and
// its offset is shared with the caller's.
boolean FillInput(j_decompress_ptr cinfo) {
    Decoder& d = Self(cinfo);
    ssize_t n = 0;
    do {
        n = ::pread(d.Fd.get(), d.Input.data(), d.Input.size(), d.Offset);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        // An end marker lets libjpeg finish; the image counts as damaged.
        d.EndedEarly = true;
        d.Input[0] = 0xFF;
        d.Input[1] = JPEG_EOI;
        n = 2;
    } else {
        d.Offset += n;
    }
    d.Source.next_input_byte = d.Input.data();
    d.Source.bytes_in_buffer = static_cast<std::size_t>(n);
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    Decoder& d = Self(cinfo);
    const auto skip = static_cast<std::size_t>(count);
    if (skip <= d.Source.bytes_in_buffer) {
        d.Source.next_input_byte += skip;
        d.Source.bytes_in_buffer -= skip;
        return;
    }
    d.Offset += static_cast<off_t>(skip - d.Source.bytes_in_buffer);
    d.Source.bytes_in_buffer = 0;
}

void TermSource(j_decompress_ptr) {}

bool ReadHeader(Decoder& d, int shrink) {
    if (setjmp(d.Err.Jump)) return false;
    jpeg_create_decompress(&d.Info);
    d.Created = true;
    d.Info.client_data = &d;
    d.Source.init_source = InitSource;
    d.Source.fill_input_buffer = FillInput;
    d.Source.skip_input_data = SkipInput;
    d.Source.resync_to_restart = jpeg_resync_to_restart;
    d.Source.term_source = TermSource;
    d.Info.src = &d.Source;
    if (jpeg_read_header(&d.Info, TRUE) != JPEG_HEADER_OK || d.EndedEarly) return false;
    switch (d.Info.jpeg_color_space) {
        case JCS_YCbCr:
        case JCS_RGB:
        case JCS_GRAYSCALE:
            break;
        default:
            return false;
    }
    if (d.Info.image_width % static_cast<unsigned>(shrink) != 0 ||
        d.Info.image_height % static_cast<unsigned>(shrink) != 0) {
        return false;
    }
    d.Info.out_color_space = JCS_RGB;
    d.Info.scale_num = 1;
    d.Info.scale_denom = static_cast<unsigned>(shrink);
    jpeg_calc_output_dimensions(&d.Info);
    return d.Info.output_components == 3;
}

bool StartDecoding(Decoder& d) {
    if (setjmp(d.Err.Jump)) return false;
    return jpeg_start_decompress(&d.Info) == TRUE;
}

bool ReadSome(Decoder& d, JDIMENSION& got) {
    if (setjmp(d.Err.Jump)) return false;
    got = jpeg_read_scanlines(&d.Info, d.Pointers.data(), kRowsAtOnce);
    return true;
}

bool Warned(const Decoder& d) {
    return d.Err.Mgr.num_warnings > 0;
}

Status Damaged(const Decoder& d) {
    if (d.OutOfMemory) {
        return Status::Failure(HF_ERR_TOO_LARGE, "decoding it needs more memory than allowed");
    }
    if (d.EndedEarly) return Status::Failure(HF_ERR_DAMAGED, "the image data ends early");
    return Status::Failure(HF_ERR_DAMAGED, d.Words.empty() ? "the image data is damaged" : d.Words);
}

}  // namespace

JpegRows::JpegRows(std::unique_ptr<Decoder> decoder) : decoder_(std::move(decoder)) {}
JpegRows::~JpegRows() = default;

std::unique_ptr<JpegRows> JpegRows::Open(int fd, int shrink, std::uint64_t memoryLimit) {
    if (shrink != 1 && shrink != 2 && shrink != 4 && shrink != 8) return nullptr;
    auto d = std::make_unique<Decoder>();
    d->Info.err = jpeg_std_error(&d->Err.Mgr);
    d->Err.Mgr.error_exit = ErrorExit;
    d->Err.Mgr.emit_message = EmitMessage;
    d->Fd.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!d->Fd || !ReadHeader(*d, shrink)) return nullptr;
    // Without a backing store (libjpeg-turbo has none), a decode past this
    // fails with JERR_NO_BACKING_STORE when it would allocate.
    d->Info.mem->max_memory_to_use =
        static_cast<long>(std::min<std::uint64_t>(memoryLimit, LONG_MAX));
    return std::unique_ptr<JpegRows>(new JpegRows(std::move(d)));
}

int JpegRows::Width() const {
    return static_cast<int>(decoder_->Info.output_width);
}
int JpegRows::Height() const {
    return static_cast<int>(decoder_->Info.output_height);
}

Status JpegRows::Read(const RowSink& row) {
    Decoder& d = *decoder_;
    if (!StartDecoding(d) || d.EndedEarly || Warned(d)) return Damaged(d);
    const std::size_t stride = static_cast<std::size_t>(Width()) * 3;
    d.Rows.resize(stride * kRowsAtOnce);
    d.Pointers.resize(kRowsAtOnce);
    for (std::size_t i = 0; i < d.Pointers.size(); ++i) d.Pointers[i] = d.Rows.data() + stride * i;
    while (d.Info.output_scanline < d.Info.output_height) {
        JDIMENSION got = 0;
        if (!ReadSome(d, got) || d.EndedEarly || Warned(d) || got == 0) return Damaged(d);
        for (JDIMENSION i = 0; i < got; ++i) {
            if (!row(d.Pointers[i]))
                return Status::Failure(HF_ERR_UNREACHABLE, "the page was stopped");
        }
    }
    return Status::Success();
}

}  // namespace tallowin
