// Scan times: how a hot folder's pace in seconds is read, which values each
// side accepts, and when a folder is due. The one statement of these rules;
// the properties dialog, the profile loader, the scan and the worker's
// schedule all use it.
//
// What is accepted, and why the three sides differ:
// - typed in the properties dialog: at least kShortestTypedScanTime (5 s);
//   less is refused with message 129, as a person choosing a printer's pace
//   always was;
// - read from the profile: at least kShortestProfileScanTime (1 s); less
//   reads as 1, since a hand edit is taken in rather than refused;
// - run by the engine (a HotFolder made in code, as the tests make them):
//   any value, a negative one as 0, which scans at every pass of the
//   worker. Before, the schedule read a negative value as a huge unsigned
//   interval while the retry pause read it as 0.
#pragma once

#include <cstdint>
#include <string_view>

namespace tallowin {

inline constexpr std::int32_t kShortestTypedScanTime = 5;
inline constexpr std::int32_t kShortestProfileScanTime = 1;

// The leading decimal number of text, read as the C library's atoi reads it:
// white space skipped, an optional sign, then digits up to the first other
// character; 0 without digits. Beyond the 32-bit range it saturates at the
// nearest limit instead of wrapping, so a huge value never turns into a small
// or negative one.
std::int32_t ParseScanTime(std::string_view text);

// The dialog's rule: true when seconds may be entered.
constexpr bool TypedScanTimeAccepted(std::int32_t seconds) {
    return seconds >= kShortestTypedScanTime;
}

// The profile's rule: text read as ParseScanTime reads it, at least
// kShortestProfileScanTime.
std::int32_t ProfileScanTime(std::string_view text);

// The engine's rule: the pause between two scans, and before a file whose
// printer failed is tried again, in milliseconds; a negative scan time as 0.
// Modulo 2^32, like every other sum of ticks.
constexpr std::uint32_t ScanIntervalMs(std::int32_t seconds) {
    return seconds <= 0 ? 0u : static_cast<std::uint32_t>(seconds) * 1000u;
}

// How long until a folder last scanned at lastScanTick is due at now, with
// intervalMs between scans; 0 once it is due. A folder is due once more than
// its interval has passed since its last scan (strictly more: a scan time of
// 0 is due a millisecond later, so a worker that sleeps this long never
// spins). The worker sleeps by this and scans by it, so that it never wakes
// to find nothing due. Measured as time elapsed since the last scan, which
// stays right across the tick's wrap: comparing the due tick with now
// directly would call a folder overdue for the seconds before a wrap.
constexpr std::uint32_t TimeToNextScan(std::uint32_t lastScanTick, std::uint32_t now,
                                       std::uint32_t intervalMs) {
    const std::uint32_t elapsed = now - lastScanTick;
    if (elapsed > intervalMs) return 0;
    const std::uint32_t left = intervalMs - elapsed;
    return left == UINT32_MAX ? left : left + 1;
}

}  // namespace tallowin
