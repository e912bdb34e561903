#include "store/profile_text.h"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace tallowin {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";
constexpr char kUtf16BeBom[] = "\xFE\xFF";

bool StartsWith(const std::string& bytes, const char* prefix) {
    return bytes.rfind(prefix, 0) == 0;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16 after the BOM to UTF-8; nullopt for an odd length or a surrogate
// without its partner, which no UTF-8 text can stand for.
std::optional<std::string> Utf16ToUtf8(const std::string& bytes, size_t from, bool bigEndian) {
    if ((bytes.size() - from) % 2 != 0) return std::nullopt;
    const auto unit = [&](size_t at) {
        const auto a = static_cast<unsigned char>(bytes[at]);
        const auto b = static_cast<unsigned char>(bytes[at + 1]);
        return static_cast<std::uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    std::string out;
    for (size_t at = from; at < bytes.size(); at += 2) {
        std::uint32_t cp = unit(at);
        if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (at + 2 >= bytes.size()) return std::nullopt;
            const std::uint32_t low = unit(at + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

// Strict UTF-8 to UTF-16: no overlong forms, no surrogates, nothing past
// U+10FFFF; nullopt otherwise.
std::optional<std::string> Utf8ToUtf16(const std::string& text, bool bigEndian) {
    std::string out;
    const auto put = [&](std::uint32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const int extra = lead < 0x80    ? 0
                          : lead >= 0xF0 ? 3
                          : lead >= 0xE0 ? 2
                          : lead >= 0xC0 ? 1
                                         : -1;
        if (extra < 0 || lead > 0xF4) return std::nullopt;
        std::uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int i = 1; i <= extra; ++i) {
            if (at + i >= text.size()) return std::nullopt;
            const auto next = static_cast<unsigned char>(text[at + i]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            cp = cp << 6 | (next & 0x3F);
        }
        static constexpr std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return std::nullopt;
        }
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
        at += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::optional<std::string> ControlCharacterProblem(const std::string& text) {
    const auto bad = std::find_if(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && (c < '\t' || c > '\r');
    });
    if (bad == text.end()) return std::nullopt;
    if (*bad == '\0') return "it holds NUL bytes, so it is not a text file";
    return "it holds control characters, so it is not a text file";
}

}  // namespace

DecodedText DecodeProfileText(const std::string& bytes) {
    DecodedText result;
    if (StartsWith(bytes, kUtf16LeBom) || StartsWith(bytes, kUtf16BeBom)) {
        const bool bigEndian = StartsWith(bytes, kUtf16BeBom);
        result.Encoding = bigEndian ? TextEncoding::Utf16Be : TextEncoding::Utf16Le;
        auto text = Utf16ToUtf8(bytes, 2, bigEndian);
        if (!text) {
            result.Error = "it starts as UTF-16 but is not valid UTF-16";
            return result;
        }
        result.Text = std::move(*text);
    } else if (StartsWith(bytes, kUtf8Bom)) {
        result.Encoding = TextEncoding::Utf8Bom;
        result.Text = bytes.substr(3);
    } else {
        result.Text = bytes;
    }
    if (auto problem = ControlCharacterProblem(result.Text)) {
        result.Error = std::move(*problem);
        result.Text.clear();
        return result;
    }
    result.Ok = true;
    return result;
}

EncodedText EncodeProfileText(const std::string& text, TextEncoding encoding) {
    EncodedText result;
    switch (encoding) {
        case TextEncoding::Bytes:
            result.Bytes = text;
            break;
        case TextEncoding::Utf8Bom:
            result.Bytes = kUtf8Bom + text;
            break;
        case TextEncoding::Utf16Le:
        case TextEncoding::Utf16Be: {
            const bool bigEndian = encoding == TextEncoding::Utf16Be;
            auto units = Utf8ToUtf16(text, bigEndian);
            if (!units) {
                result.Error = "a value is not valid UTF-8, so it cannot be written as UTF-16";
                return result;
            }
            result.Bytes = (bigEndian ? kUtf16BeBom : kUtf16LeBom) + *units;
            break;
        }
    }
    result.Ok = true;
    return result;
}

}  // namespace tallowin
