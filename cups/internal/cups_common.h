// Internal to the CUPS adapters: what cups_spooler.cpp and cups_printers.cpp
// both need to reach a destination and to read its options the same way.
// Unlike the other headers of cups/ it includes <cups/cups.h>, so only the
// CUPS adapters' .cpp files include it; no header and nothing outside cups/
// may (scripts/check-layers keeps internal/ to its folder). Nothing here
// throws unless it says so. Any function may be called from any thread; a
// connection, and what was read over it, is used by one thread at a time.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ports/services.h"

namespace tallowin {

namespace cupsutil {

// How long opening or reopening a connection to the scheduler may take.
inline constexpr std::chrono::milliseconds kConnectLimit{30000};

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;

struct DestFreer {
    void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
using Dest = std::unique_ptr<cups_dest_t, DestFreer>;

struct DestInfoFreer {
    void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};
using DestInfo = std::unique_ptr<cups_dinfo_t, DestInfoFreer>;

// How long the scheduler may stay silent during one request before the
// request gives up: a scheduler that is frozen or swamped must not hold the
// worker, whose stop would otherwise wait for it.
inline constexpr std::chrono::milliseconds kSilenceLimit{30000};
// How often libcups asks a RequestGuard whether to go on waiting; a stop is
// noticed within this time.
inline constexpr double kPollSeconds = 0.1;

// Bounds the requests made over one connection in time. libcups calls it
// every kPollSeconds while it waits to read or write, and the request gives
// up (libcups then fails it as timed out) once the stop signal that the
// current request watches is requested, or once the scheduler has been
// silent for the silence limit; the requests after that, until the next
// Watch, give up at once. libcups waits up to one second more on its own
// for a "100 Continue" before each request, so a request ends about a
// second after a stop at worst. Not copyable: libcups holds its address.
class RequestGuard {
  public:
    explicit RequestGuard(std::chrono::milliseconds silenceLimit = kSilenceLimit);
    RequestGuard(const RequestGuard&) = delete;
    RequestGuard& operator=(const RequestGuard&) = delete;

    // Bounds the requests made over http from now on.
    void Attach(http_t* http);
    // The requests from now on watch stop, which must outlive them (until
    // the next Watch).
    void Watch(const StopSignal& stop);
    // The requests from now on watch nothing but the silence limit.
    void WatchNothing();
    // True once a wait gave up; Why() then says why, in words.
    bool GaveUp() const { return gaveUp_ != GaveUpFor::Nothing; }
    std::string Why() const;

  private:
    static int StillWaiting(http_t* http, void* self);
    enum class GaveUpFor { Nothing, Stop, Silence };
    const StopSignal* stop_ = nullptr;
    std::chrono::milliseconds silenceLimit_;
    std::chrono::steady_clock::time_point lastAsked_{};
    std::chrono::steady_clock::time_point silentSince_{};
    GaveUpFor gaveUp_ = GaveUpFor::Nothing;
};

// A connection whose every request is bounded by its guard.
struct BoundedHttp {
    std::unique_ptr<RequestGuard> Guard;  // at a fixed address for libcups
    Http Connection;

    http_t* get() const { return Connection.get(); }
};

// A new connection to the scheduler that cupsServer() names, its requests
// watching stop and silenceLimit. The connect itself gives up after
// connectLimit or once stop is requested. The one way this program connects
// to the scheduler: nothing it asks waits unbounded. Fails with
// HF_ERR_UNREACHABLE and the reason.
Result<BoundedHttp> ConnectBounded(const StopSignal& stop,
                                   std::chrono::milliseconds silenceLimit = kSilenceLimit,
                                   std::chrono::milliseconds connectLimit = kConnectLimit);

// A request over a guarded connection failed: HF_ERR_UNREACHABLE when the
// scheduler could not be heard (or the wait for it gave up), else code; the
// reason is LastError's.
Status RequestFailure(const RequestGuard& guard, HotFolderError code);

// Why the last request over http failed, for the log: the guard's words
// when it gave up, else cupsLastErrorString().
std::string LastError(const RequestGuard& guard);

// "queue" or "queue/instance", as CupsSpooler and the printer panel take it.
struct DestName {
    std::string Queue;
    std::string Instance;  // empty for the queue itself
};

// The parts of name, or nullopt when it is empty (libcups would pick the
// default printer) or has an empty queue or instance around its '/'.
// Throws std::bad_alloc.
std::optional<DestName> SplitName(const std::string& name);

// What the readers of a destination's attributes need; owns nothing.
struct DestContext {
    http_t* Http;
    cups_dest_t* Dest;
    cups_dinfo_t* Info;
};

// The destination name names as the scheduler reached over http knows it,
// with its options (the user's lpoptions included), or null when it knows
// no such queue or cannot be asked (cupsLastError() and the connection's
// guard then tell which). An instance that lpoptions does not define is the
// plain queue, as for lp. Unlike libcups' lookup of one named destination,
// which falls back to browsing the network over a connection of its own
// whose requests wait a minute each, every request goes over http, so its
// guard bounds them all.
Dest FindDest(http_t* http, const DestName& name);

// The destination's option name (the user's value), or null.
const char* UserOption(const DestContext& c, const char* name);

// True when the user has the older "landscape" option, with any value but
// "false", "no" or "off".
bool UserLandscape(const DestContext& c);

// text as a decimal number greater than 0, all of it; else nullopt.
std::optional<int> ParsePositive(std::string_view text);

// The non-empty entries of a comma-separated list, in order, without the
// spaces and tabs around them. Throws std::bad_alloc.
std::vector<std::string> ListEntries(std::string_view list);

// A resolution as written: across, then down, in dots per inch or, when
// PerCm, per centimetre.
struct Resolution {
    int X = 0, Y = 0;
    bool PerCm = false;
};

// "600dpi", "600x300dpi", "118dpcm", "118x59dpcm"; nullopt for anything
// else.
std::optional<Resolution> ParseResolution(std::string_view text);

// Value i of attr, an attribute of resolutions; nullopt when it has no
// such value or one that is not positive.
std::optional<Resolution> ResolutionAt(ipp_attribute_t* attr, int i);

// The integer member name of collection, or fallback when it has none
// (collection may be null).
int IntegerMember(ipp_t* collection, const char* name, int fallback);

// A sheet's size in 1/100 mm, as IPP gives it.
struct Size {
    int Width = 0, Length = 0;
};

// True when a and b differ by at most half a millimetre each way: what
// libcups allows when it matches PWG sizes, and enough to absorb the
// rounding of sizes given in points.
bool SameSize(Size a, Size b);

// The size a PWG self-describing, standard PPD or legacy media name stands
// for, or nullopt when libcups knows no size for it.
std::optional<Size> SizeForMediaName(const std::string& name);

// The printer's media as libcups lists them (CUPS_MEDIA_FLAGS_DEFAULT): its
// media-col-database, or what libcups makes of media-supported when there
// is none, in libcups' order (by size). An entry that cannot be read is
// left out. Throws std::bad_alloc.
std::vector<cups_size_t> MediaDatabase(const DestContext& c);

// The printer's media-col-default collection, or null when it has none.
ipp_t* DefaultMediaCol(const DestContext& c);

// The media-size of a media-col collection, a dimension it lacks as 0;
// nullopt when mediaCol is null or has no media-size.
std::optional<Size> MediaColSize(ipp_t* mediaCol);

}  // namespace cupsutil

}  // namespace tallowin
