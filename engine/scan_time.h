// The scan time typed in the properties dialog or written in the profile.
#pragma once

#include <cstdint>
#include <string_view>

namespace tallowin {

// The leading decimal number of text, read as the C library's atoi reads it:
// white space skipped, an optional sign, then digits up to the first other
// character; 0 without digits. Beyond the 32-bit range it saturates at the
// nearest limit instead of wrapping, so a huge value never turns into a small
// or negative one.
std::int32_t ParseScanTime(std::string_view text);

}  // namespace tallowin
