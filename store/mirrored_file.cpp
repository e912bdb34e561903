#include "store/mirrored_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "engine/status.h"
#include "util/unique_fd.h"

namespace tallowin {

namespace {

// Far more than any state file of ours holds: a file larger than this is
// not one, and is not read into memory whole.
constexpr off_t kMaxBytes = 64 << 20;

std::string Crc32Hex(std::string_view bytes) {
    const uLong crc =
        crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(crc & 0xffffffffUL));
    return hex;
}

std::size_t LineCount(std::string_view text) {
    std::size_t n = 0;
    for (const char c : text) n += c == '\n' ? 1 : 0;
    return n;
}

// What one copy holds.
struct CopyRead {
    enum class Kind { Missing, Good, Bad };
    Kind What = Kind::Missing;
    std::string Body;     // Good: the body, without the end line
    std::string Problem;  // Bad: why, for the user
};

CopyRead Bad(std::string problem) {
    return {CopyRead::Kind::Bad, {}, std::move(problem)};
}

// The whole file as bytes, or why not. O_NONBLOCK: a fifo in its place
// must not hang the start.
CopyRead ReadBytes(const std::string& path) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        if (errno == ENOENT) return {};
        return Bad(std::strerror(errno));
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) return Bad(std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return Bad("it is a folder");
    if (!S_ISREG(st.st_mode)) return Bad("it is not a plain file");
    if (st.st_size > kMaxBytes) return Bad("it is larger than any such file");
    std::string text;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Bad(std::strerror(errno));
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<off_t>(text.size()) > kMaxBytes)
            return Bad("it is larger than any such file");
    }
    if (text.empty()) return Bad("it is empty");
    return {CopyRead::Kind::Good, std::move(text), {}};
}

struct Format {
    std::string_view EndWord;
    std::string_view UnframedStart;
    bool UnframedAllowed;
    const std::function<bool(const std::string&)>& Readable;
};

// One copy, read and checked: its end line, then its lines.
CopyRead ReadCopy(const std::string& path, const Format& format) {
    CopyRead read = ReadBytes(path);
    if (read.What != CopyRead::Kind::Good) return read;
    const std::string& text = read.Body;
    // The last line, without its newline; text is not empty.
    const std::size_t lastStart = text.back() == '\n' ? text.rfind('\n', text.size() - 2) : 0;
    const std::size_t bodySize = lastStart == std::string::npos ? 0 : lastStart + 1;
    const std::string_view last =
        std::string_view(text).substr(bodySize, text.size() - bodySize - 1);
    // A file of the version before, which wrote no end line: read whole.
    // Its last line may look like an end line (a record of a folder named
    // like one) without being one, so it is also tried when that line
    // turns out not to be.
    const bool unframedReads =
        format.UnframedAllowed &&
        text.compare(0, format.UnframedStart.size(), format.UnframedStart) == 0 &&
        format.Readable(text);
    const std::string endStart = std::string(format.EndWord) + '\t';
    if (text.back() != '\n' || last.substr(0, endStart.size()) != endStart) {
        if (!format.UnframedAllowed) return Bad("it ends without its end line: it was cut short");
        if (!unframedReads) return Bad("its content cannot be read");
        return read;
    }
    if (unframedReads) return read;
    // END-WORD <TAB> lines <TAB> crc32
    const std::string_view fields = last.substr(endStart.size());
    const std::size_t tab = fields.find('\t');
    std::size_t lines = 0;
    const std::string_view count = fields.substr(0, tab);
    const auto parsed = std::from_chars(count.data(), count.data() + count.size(), lines);
    if (tab == std::string_view::npos || parsed.ec != std::errc() ||
        parsed.ptr != count.data() + count.size() || fields.size() - tab - 1 != 8) {
        return Bad("its end line cannot be read");
    }
    const std::string_view body = std::string_view(text).substr(0, bodySize);
    if (fields.substr(tab + 1) != Crc32Hex(body)) {
        return Bad("its checksum does not match its content");
    }
    if (LineCount(body) != lines) {
        return Bad("its end line counts " + std::to_string(lines) + " lines, it has " +
                   std::to_string(LineCount(body)));
    }
    read.Body.resize(bodySize);
    if (!format.Readable(read.Body)) return Bad("its content cannot be read");
    return read;
}

// Renames a damaged copy to <path>.bad, or .bad.2 ... when that is taken,
// so that no earlier damaged copy is written over; the new name, or why not.
Result<std::string> MoveAside(const std::string& path) {
    for (int n = 1; n < 100; ++n) {
        std::string aside = path + ".bad";
        if (n > 1) {
            aside += '.';
            aside += std::to_string(n);
        }
        struct stat st {};
        if (lstat(aside.c_str(), &st) == 0) continue;
        if (rename(path.c_str(), aside.c_str()) != 0) {
            return {{}, Status::Failure(HF_ERR_STATE, std::strerror(errno))};
        }
        return {aside, {}};
    }
    return {{}, Status::Failure(HF_ERR_STATE, "every name for it is taken")};
}

}  // namespace

std::string FramedText(const std::string& body, std::string_view endWord) {
    std::string text = body;
    text += endWord;
    text += '\t' + std::to_string(LineCount(body)) + '\t' + Crc32Hex(body) + '\n';
    return text;
}

MirroredFile::MirroredFile(std::string path, std::string name, std::string endWord,
                           std::string unframedStart)
    : path_(std::move(path)),
      name_(std::move(name)),
      endWord_(std::move(endWord)),
      unframedStart_(std::move(unframedStart)) {}

MirroredFile::Loaded MirroredFile::Load(
    const std::function<bool(const std::string& body)>& readable) const {
    const std::string copyPath = CopyPath();
    CopyRead copy = ReadCopy(copyPath, {endWord_, unframedStart_, false, readable});
    const bool unframedAllowed = copy.What == CopyRead::Kind::Missing;
    CopyRead file = ReadCopy(path_, {endWord_, unframedStart_, unframedAllowed, readable});

    Loaded loaded;
    using Kind = CopyRead::Kind;
    if (file.What == Kind::Good) {
        loaded.From = Loaded::Source::File;
        loaded.Body = std::move(file.Body);
    } else if (copy.What == Kind::Good) {
        loaded.From = Loaded::Source::Copy;
        loaded.Body = std::move(copy.Body);
    } else if (file.What == Kind::Missing && copy.What == Kind::Missing) {
        return loaded;
    } else {
        loaded.From = Loaded::Source::Neither;
    }

    auto note = [&loaded](const std::string& sentence) {
        loaded.Damage += (loaded.Damage.empty() ? "" : "; ") + sentence;
    };
    auto setAside = [&](const std::string& path, const std::string& what,
                        const std::string& problem) {
        const Result<std::string> aside = MoveAside(path);
        if (aside.Ok()) {
            note(what + " could not be read (" + problem + ") and was kept as " + aside.Value);
            return;
        }
        loaded.Blocked = true;
        note(what + " could not be read (" + problem + ") nor moved aside (" + aside.Error.Reason +
             "), so it stays as it is and nothing is stored over it");
    };
    if (file.What == Kind::Bad) setAside(path_, name_ + " " + path_, file.Problem);
    if (file.What == Kind::Missing) note(name_ + " " + path_ + " was missing");
    if (copy.What == Kind::Bad) setAside(copyPath, "the copy " + copyPath, copy.Problem);
    return loaded;
}

ReplaceResult MirroredFile::Store(const std::string& body, FileOps& ops) const {
    const std::string text = FramedText(body, endWord_);
    // The copy's rename is flushed with the file's, one folder flush for
    // both: each name points at a whole file flushed before its rename,
    // whichever renames a crash keeps.
    if (ReplaceResult copy = ReplaceFileAtomically(CopyPath(), text, ops, Flush::FolderLater);
        !copy.Ok) {
        return copy;
    }
    return ReplaceFileAtomically(path_, text, ops);
}

ReplaceResult MirroredFile::Store(const std::string& body) const {
    FileOps ops;
    return Store(body, ops);
}

ReplaceResult MirroredFile::StoreUnflushed(const std::string& body, FileOps& ops) const {
    return ReplaceFileAtomically(path_, FramedText(body, endWord_), ops, Flush::None);
}

ReplaceResult MirroredFile::StoreUnflushed(const std::string& body) const {
    FileOps ops;
    return StoreUnflushed(body, ops);
}

}  // namespace tallowin
