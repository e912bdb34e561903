// The bytes of a profile file and the text inside them. Windows editors save
// profiles as UTF-16 with a byte-order mark, or as UTF-8 with one; the file
// is written back in the encoding it came in, BOM included, so that the
// user's other tools keep reading it as before.
#pragma once

#include <string>

namespace tallowin {

enum class TextEncoding {
    Bytes,    // no BOM: the bytes as they are (UTF-8, Latin-1, ...)
    Utf8Bom,  // EF BB BF, then UTF-8
    Utf16Le,  // FF FE, then UTF-16 little-endian
    Utf16Be,  // FE FF, then UTF-16 big-endian
};

struct DecodedText {
    bool Ok = false;
    TextEncoding Encoding = TextEncoding::Bytes;
    std::string Text;   // without the BOM; UTF-8 when the file was UTF-16
    std::string Error;  // why the bytes are not a text, when !Ok
};

// Text with a NUL or another control character (other than tab, line ends,
// vertical tab and form feed) is not a profile but a damaged or binary file.
DecodedText DecodeProfileText(const std::string& bytes);

struct EncodedText {
    bool Ok = false;
    std::string Bytes;  // with the BOM of the encoding
    std::string Error;  // when !Ok: the text cannot be written in that encoding
};

EncodedText EncodeProfileText(const std::string& text, TextEncoding encoding);

}  // namespace tallowin
