#include "engine/scan_time.h"

#include <algorithm>
#include <limits>

namespace tallowin {

std::int32_t ParseScanTime(std::string_view text) {
    std::size_t at = 0;
    // The C locale's white space.
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    // Past the 32-bit range the value only needs to stay beyond it.
    constexpr std::int64_t kBeyond = std::int64_t{1} << 32;
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = std::min(value * 10 + (text[at] - '0'), kBeyond);
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

std::int32_t ProfileScanTime(std::string_view text) {
    return std::max(kShortestProfileScanTime, ParseScanTime(text));
}

}  // namespace tallowin
