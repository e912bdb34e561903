#include "page/source/gif_frames.h"

#include <gif_lib.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace tallowin {

namespace {

struct Input {
    int Fd = -1;
    off_t Offset = 0;
};

int ReadInput(GifFileType* gif, GifByteType* buf, int size) {
    auto* in = static_cast<Input*>(gif->UserData);
    int done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(in->Fd, buf + done, static_cast<std::size_t>(size - done), in->Offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<int>(n);
        in->Offset += n;
    }
    return done;
}

struct CloseGif {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, CloseGif>;

Status Damaged(int error, const char* what) {
    const char* words = GifErrorString(error);
    return Status::Failure(HF_ERR_DAMAGED,
                           std::string(what) + ": " + (words ? words : "the GIF data is damaged"));
}

// Every row of the frame whose descriptor was just read.
Status ReadFrame(GifFileType* gif, std::vector<GifPixelType>& row) {
    const GifImageDesc& d = gif->Image;
    if (d.Width <= 0 || d.Height <= 0) {
        return Status::Failure(HF_ERR_DAMAGED, "a GIF frame has no pixels");
    }
    row.resize(static_cast<std::size_t>(d.Width));
    for (int y = 0; y < d.Height; ++y) {
        if (DGifGetLine(gif, row.data(), d.Width) != GIF_OK) {
            return Damaged(gif->Error, "a frame's picture data ends early or is damaged");
        }
    }
    return Status::Success();
}

}  // namespace

Status CheckGifFrames(int fd) {
    Input input{fd, 0};
    int error = 0;
    const GifHandle gif(DGifOpen(&input, ReadInput, &error));
    if (!gif) return Damaged(error, "the GIF header cannot be read");
    std::vector<GifPixelType> row;
    int frames = 0;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) != GIF_OK) {
            // Ending right after a whole frame, the trailer left out or
            // replaced by stray bytes, loses no pixel (libvips' loader
            // stops there too).
            if (frames > 0 &&
                (gif->Error == D_GIF_ERR_READ_FAILED || gif->Error == D_GIF_ERR_WRONG_RECORD)) {
                return Status::Success();
            }
            return Damaged(gif->Error, "the GIF data ends early or is damaged");
        }
        switch (type) {
            case IMAGE_DESC_RECORD_TYPE:
                if (DGifGetImageDesc(gif.get()) != GIF_OK) {
                    return Damaged(gif->Error, "a GIF frame's header is damaged");
                }
                if (Status s = ReadFrame(gif.get(), row); !s.Ok()) return s;
                ++frames;
                break;
            case EXTENSION_RECORD_TYPE: {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) {
                    return Damaged(gif->Error, "a GIF extension is damaged");
                }
                while (block != nullptr) {
                    if (DGifGetExtensionNext(gif.get(), &block) != GIF_OK) {
                        return Damaged(gif->Error, "a GIF extension is damaged");
                    }
                }
                break;
            }
            case TERMINATE_RECORD_TYPE:
                if (frames == 0) return Status::Failure(HF_ERR_DAMAGED, "the GIF has no frame");
                return Status::Success();
            default:
                return Status::Failure(HF_ERR_DAMAGED, "the GIF data is damaged");
        }
    }
}

}  // namespace tallowin
