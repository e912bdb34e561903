// Byte-level reading and editing of image files, for the tests that need
// files libvips will not write (a resolution removed, a header damaged).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace filebytes {

using Bytes = std::string;

std::uint32_t BigEndian32(const Bytes& b, std::size_t at);
Bytes BigEndianBytes(std::uint32_t v);
// n bytes (1 to 4) at `at`, least significant first.
std::uint32_t LittleEndian(const Bytes& b, std::size_t at, int n);

// The CRC-32 that PNG chunks carry (ISO 3309, as zlib computes it).
std::uint32_t Crc32(const Bytes& bytes);
// A PNG chunk: length, type, data, CRC of type and data.
Bytes PngChunk(const std::string& type, const Bytes& data);
// Offset of the first PNG chunk of that type, or npos.
std::size_t FindPngChunk(const Bytes& png, const std::string& type);
// Replaces the data of the chunk at `at`, with a correct length and CRC.
void ReplacePngChunkData(Bytes& png, std::size_t at, const Bytes& data);

}  // namespace filebytes
