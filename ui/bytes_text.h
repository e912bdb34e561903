// The one conversion between the engine's byte strings (names, paths and
// reasons as the file system and the libraries give them, UTF-8 by
// convention) and Qt's text. Every byte counts, a NUL included; invalid
// UTF-8 shows as U+FFFD.
#pragma once

#include <QString>
#include <string>

namespace tallowin {

inline QString FromBytes(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string ToBytes(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace tallowin
