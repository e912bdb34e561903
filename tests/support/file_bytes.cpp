#include "tests/support/file_bytes.h"

namespace filebytes {

std::uint32_t BigEndian32(const Bytes& b, std::size_t at) {
    return (std::uint32_t{static_cast<unsigned char>(b[at])} << 24) |
           (std::uint32_t{static_cast<unsigned char>(b[at + 1])} << 16) |
           (std::uint32_t{static_cast<unsigned char>(b[at + 2])} << 8) |
           std::uint32_t{static_cast<unsigned char>(b[at + 3])};
}

Bytes BigEndianBytes(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::uint32_t LittleEndian(const Bytes& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

std::uint32_t Crc32(const Bytes& bytes) {
    std::uint32_t crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

Bytes PngChunk(const std::string& type, const Bytes& data) {
    const Bytes body = type + data;
    return BigEndianBytes(static_cast<std::uint32_t>(data.size())) + body +
           BigEndianBytes(Crc32(body));
}

std::size_t FindPngChunk(const Bytes& png, const std::string& type) {
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        if (png.compare(at + 4, 4, type) == 0) return at;
        at += 12 + BigEndian32(png, at);
    }
    return Bytes::npos;
}

void ReplacePngChunkData(Bytes& png, std::size_t at, const Bytes& data) {
    png.replace(at, 12 + BigEndian32(png, at), PngChunk(png.substr(at + 4, 4), data));
}

}  // namespace filebytes
