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
#include <cstring>
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

    // Reads from a duplicate of fd, which Fd leaves empty when fd cannot
    // be duplicated; errors and warnings go to ErrorExit and EmitMessage.
    explicit Decoder(int fd);
    ~Decoder() {
        if (Created) jpeg_destroy_decompress(&Info);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Without a backing store (libjpeg-turbo has none), a decode past this
    // fails with JERR_NO_BACKING_STORE when it would allocate. Once created.
    void LimitMemory(std::uint64_t limit) {
        Info.mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(limit, LONG_MAX));
    }

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
    PlaneLayout Layout;  // Count 0 unless read as planes
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

// YCbCr whose chroma planes are sampled 1 x 1 under a luma of 1, 2 or 4
// each way (at most 4 blocks), or grey: the layouts the page encoder
// writes back as they are.
bool PlanesFit(const jpeg_decompress_struct& info, PlaneLayout& layout) {
    if (info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1) {
        layout = PlaneLayout{.Count = 1};
        return true;
    }
    if (info.jpeg_color_space != JCS_YCbCr || info.num_components != 3) return false;
    const jpeg_component_info* c = info.comp_info;
    const int h = c[0].h_samp_factor, v = c[0].v_samp_factor;
    const auto power = [](int f) { return f == 1 || f == 2 || f == 4; };
    if (!power(h) || !power(v) || h * v > 4) return false;
    for (int i = 1; i < 3; ++i) {
        if (c[i].h_samp_factor != 1 || c[i].v_samp_factor != 1) return false;
    }
    layout = PlaneLayout{.Count = 3, .H = {h, 1, 1}, .V = {v, 1, 1}};
    return true;
}

// Makes the decoder, reading from d.Fd. Called under the caller's setjmp.
void Attach(Decoder& d) {
    jpeg_create_decompress(&d.Info);
    d.Created = true;
    d.Info.client_data = &d;
    d.Source.init_source = InitSource;
    d.Source.fill_input_buffer = FillInput;
    d.Source.skip_input_data = SkipInput;
    d.Source.resync_to_restart = jpeg_resync_to_restart;
    d.Source.term_source = TermSource;
    d.Info.src = &d.Source;
}

bool ReadHeader(Decoder& d, int shrink, bool planes) {
    if (setjmp(d.Err.Jump)) return false;
    Attach(d);
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
    d.Info.scale_num = 1;
    d.Info.scale_denom = static_cast<unsigned>(shrink);
    if (planes) {
        if (!PlanesFit(d.Info, d.Layout)) return false;
        d.Info.raw_data_out = TRUE;
        d.Info.out_color_space = d.Info.jpeg_color_space;
        jpeg_calc_output_dimensions(&d.Info);
        return true;
    }
    d.Info.out_color_space = JCS_RGB;
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

bool ReadRaw(Decoder& d, JSAMPIMAGE planes, JDIMENSION lines, JDIMENSION& got) {
    if (setjmp(d.Err.Jump)) return false;
    got = jpeg_read_raw_data(&d.Info, planes, lines);
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

// What a PDF reader's DCT filter decodes to the same pixels libjpeg does:
// sequential Huffman 8-bit data, grey, or YCbCr (a three-component file
// libjpeg takes for RGB, from an Adobe marker or its components' ids, is
// not: readers would take it for YCbCr). A colour profile is left to the
// path that converts it.
bool ReadsAsStored(const jpeg_decompress_struct& info) {
    if (info.data_precision != 8 || info.progressive_mode || info.arith_code) return false;
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE && info.num_components == 1;
    const bool ycc = info.jpeg_color_space == JCS_YCbCr && info.num_components == 3;
    if (!grey && !ycc) return false;
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next) {
        if (m->marker == JPEG_APP0 + 2 && m->data_length >= 12 &&
            std::memcmp(m->data, "ICC_PROFILE", 12) == 0) {
            return false;
        }
    }
    return true;
}

bool ReadVerbatimHeader(Decoder& d) {
    if (setjmp(d.Err.Jump)) return false;
    Attach(d);
    jpeg_save_markers(&d.Info, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&d.Info, TRUE) != JPEG_HEADER_OK || d.EndedEarly) return false;
    if (!ReadsAsStored(d.Info)) return false;
    // Every coefficient is still read; only the cheapest DCT runs, and the
    // colours stay as stored.
    d.Info.scale_num = 1;
    d.Info.scale_denom = 8;
    d.Info.out_color_space = d.Info.jpeg_color_space;
    d.Info.do_fancy_upsampling = FALSE;
    jpeg_calc_output_dimensions(&d.Info);
    return true;
}

// Reads every row and on to the end marker; false at the first warning.
bool ReadThrough(Decoder& d) {
    if (setjmp(d.Err.Jump)) return false;
    if (jpeg_start_decompress(&d.Info) != TRUE) return false;
    JSAMPROW row = d.Rows.data();
    while (d.Info.output_scanline < d.Info.output_height) {
        if (jpeg_read_scanlines(&d.Info, &row, 1) != 1 || d.EndedEarly || Warned(d)) return false;
    }
    return jpeg_finish_decompress(&d.Info) == TRUE;
}

}  // namespace

JpegRows::Decoder::Decoder(int fd) : Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0)) {
    Info.err = jpeg_std_error(&Err.Mgr);
    Err.Mgr.error_exit = ErrorExit;
    Err.Mgr.emit_message = EmitMessage;
}

std::optional<JpegRows::Verbatim> JpegRows::CheckVerbatim(int fd, std::uint64_t memoryLimit) {
    auto d = std::make_unique<Decoder>(fd);
    if (!d->Fd || !ReadVerbatimHeader(*d) || Warned(*d)) return std::nullopt;
    d->LimitMemory(memoryLimit);
    d->Rows.resize(static_cast<std::size_t>(d->Info.output_width) *
                   static_cast<std::size_t>(d->Info.output_components));
    if (!ReadThrough(*d) || d->EndedEarly || Warned(*d)) return std::nullopt;
    return Verbatim{static_cast<int>(d->Info.image_width), static_cast<int>(d->Info.image_height),
                    d->Info.num_components,
                    static_cast<std::uint64_t>(d->Offset) - d->Source.bytes_in_buffer};
}

JpegRows::JpegRows(std::unique_ptr<Decoder> decoder) : decoder_(std::move(decoder)) {}
JpegRows::~JpegRows() = default;

std::unique_ptr<JpegRows> JpegRows::Open(int fd, int shrink, std::uint64_t memoryLimit) {
    return OpenAs(fd, shrink, memoryLimit, false);
}

std::unique_ptr<JpegRows> JpegRows::OpenPlanes(int fd, int shrink, std::uint64_t memoryLimit) {
    return OpenAs(fd, shrink, memoryLimit, true);
}

std::unique_ptr<JpegRows> JpegRows::OpenAs(int fd, int shrink, std::uint64_t memoryLimit,
                                           bool planes) {
    if (shrink != 1 && shrink != 2 && shrink != 4 && shrink != 8) return nullptr;
    auto d = std::make_unique<Decoder>(fd);
    if (!d->Fd || !ReadHeader(*d, shrink, planes)) return nullptr;
    d->LimitMemory(memoryLimit);
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

const PlaneLayout& JpegRows::Layout() const {
    return decoder_->Layout;
}

JpegRows::Plane JpegRows::PlaneSize(int c) const {
    const jpeg_decompress_struct& info = decoder_->Info;
    const jpeg_component_info& comp = info.comp_info[c];
    const double spanned = static_cast<double>(info.min_DCT_scaled_size) / comp.DCT_scaled_size;
    return {static_cast<int>(comp.downsampled_width), static_cast<int>(comp.downsampled_height),
            spanned * info.max_h_samp_factor / comp.h_samp_factor,
            spanned * info.max_v_samp_factor / comp.v_samp_factor};
}

Status JpegRows::ReadPlanes(const PlaneRowSink& row) {
    Decoder& d = *decoder_;
    if (!StartDecoding(d) || d.EndedEarly || Warned(d)) return Damaged(d);
    // One call gives an iMCU row: v_samp_factor * DCT_scaled_size rows of
    // each plane, each row whole blocks wide.
    const int planes = d.Info.num_components;
    int rows[3] = {}, heights[3] = {}, given[3] = {};
    std::size_t strides[3] = {}, total = 0, pointers = 0;
    for (int c = 0; c < planes; ++c) {
        const jpeg_component_info& comp = d.Info.comp_info[c];
        rows[c] = comp.v_samp_factor * comp.DCT_scaled_size;
        heights[c] = static_cast<int>(comp.downsampled_height);
        strides[c] = static_cast<std::size_t>(comp.width_in_blocks) * comp.DCT_scaled_size;
        total += strides[c] * static_cast<std::size_t>(rows[c]);
        pointers += static_cast<std::size_t>(rows[c]);
    }
    d.Rows.resize(total);
    d.Pointers.resize(pointers);
    JSAMPARRAY image[3] = {};
    unsigned char* at = d.Rows.data();
    JSAMPROW* pointer = d.Pointers.data();
    for (int c = 0; c < planes; ++c) {
        image[c] = pointer;
        for (int r = 0; r < rows[c]; ++r, at += strides[c]) *pointer++ = at;
    }
    const auto lines =
        static_cast<JDIMENSION>(d.Info.max_v_samp_factor * d.Info.min_DCT_scaled_size);
    while (d.Info.output_scanline < d.Info.output_height) {
        JDIMENSION got = 0;
        if (!ReadRaw(d, image, lines, got) || d.EndedEarly || Warned(d) || got == 0) {
            return Damaged(d);
        }
        // Each plane's rows as the luma rows reach them; the last iMCU row's
        // rows past a plane's height are padding.
        int done[3] = {};
        for (int i = 0; i < rows[0]; ++i) {
            for (int c = 0; c < planes; ++c) {
                for (const int due = (i + 1) * rows[c] / rows[0]; done[c] < due; ++done[c]) {
                    if (given[c] >= heights[c]) continue;
                    ++given[c];
                    if (!row(c, image[c][done[c]])) {
                        return Status::Failure(HF_ERR_UNREACHABLE, "the page was stopped");
                    }
                }
            }
        }
    }
    return Status::Success();
}

}  // namespace tallowin
