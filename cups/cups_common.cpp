#include "cups/internal/cups_common.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>

namespace tallowin {

namespace cupsutil {

namespace {

// Half a millimetre, in 1/100 mm (see SameSize).
constexpr int kSizeTolerance = 50;

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

// Sets the int that httpConnect2 polls once stop is requested, for as long
// as the object lives: a connect to a scheduler that does not answer ends
// within kCancelPoll of a stop instead of after the whole connect time-out.
class CancelOnStop {
  public:
    explicit CancelOnStop(const StopSignal& stop)
        : watcher_([this, &stop](std::stop_token done) {
              std::mutex mutex;
              std::condition_variable_any wake;
              std::unique_lock lock(mutex);
              while (!done.stop_requested()) {
                  if (stop.Requested()) {
                      std::atomic_ref<int>(cancel_).store(1);
                      return;
                  }
                  wake.wait_for(lock, done, kCancelPoll, [] { return false; });
              }
          }) {}
    int* Flag() { return &cancel_; }

  private:
    static constexpr std::chrono::milliseconds kCancelPoll{50};
    alignas(std::atomic_ref<int>::required_alignment) int cancel_ = 0;
    std::jthread watcher_;  // last: ends before cancel_ goes
};

}  // namespace

RequestGuard::RequestGuard(std::chrono::milliseconds silenceLimit) : silenceLimit_(silenceLimit) {}

void RequestGuard::Attach(http_t* http) {
    httpSetTimeout(http, kPollSeconds, &RequestGuard::StillWaiting, this);
}

void RequestGuard::Watch(const StopSignal& stop) {
    stop_ = &stop;
    gaveUp_ = GaveUpFor::Nothing;
}

void RequestGuard::WatchNothing() {
    stop_ = nullptr;
    gaveUp_ = GaveUpFor::Nothing;
}

int RequestGuard::StillWaiting(http_t*, void* self) {
    auto& guard = *static_cast<RequestGuard*>(self);
    // A scheduler that went silent once is not waited for again by the
    // requests that follow (libcups retries some on its own).
    if (guard.gaveUp_ != GaveUpFor::Nothing) return 0;
    const auto now = std::chrono::steady_clock::now();
    // libcups asks after each quiet period; a gap much longer than one
    // means the scheduler spoke in between, so the silence starts anew.
    const auto period = std::chrono::duration<double>(kPollSeconds);
    if (now - guard.lastAsked_ > 2 * period) {
        guard.silentSince_ =
            now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
    }
    guard.lastAsked_ = now;
    if (guard.stop_ != nullptr && guard.stop_->Requested()) {
        guard.gaveUp_ = GaveUpFor::Stop;
        return 0;
    }
    if (now - guard.silentSince_ >= guard.silenceLimit_) {
        guard.gaveUp_ = GaveUpFor::Silence;
        return 0;
    }
    return 1;
}

std::string RequestGuard::Why() const {
    switch (gaveUp_) {
        case GaveUpFor::Stop:
            return "stopped while waiting for the scheduler";
        case GaveUpFor::Silence:
            return "the scheduler did not answer for " +
                   std::to_string(silenceLimit_.count() / 1000) + " s";
        case GaveUpFor::Nothing:
            break;
    }
    return {};
}

Dest FindDest(http_t* http, const DestName& name) {
    cups_dest_t* all = nullptr;
    const int count = cupsGetDests2(http, &all);
    const auto freeAll = [count](cups_dest_t* dests) { cupsFreeDests(count, dests); };
    const std::unique_ptr<cups_dest_t, decltype(freeAll)> owner(all, freeAll);
    cups_dest_t* found = nullptr;
    if (!name.Instance.empty()) {
        found = cupsGetDest(name.Queue.c_str(), name.Instance.c_str(), count, all);
    }
    if (found == nullptr) found = cupsGetDest(name.Queue.c_str(), nullptr, count, all);
    if (found == nullptr) return nullptr;
    cups_dest_t* copy = nullptr;
    if (cupsCopyDest(found, 0, &copy) != 1) {
        cupsFreeDests(1, copy);
        return nullptr;
    }
    return Dest(copy);
}

std::string LastError(const RequestGuard& guard) {
    if (guard.GaveUp()) return guard.Why();
    const char* words = cupsLastErrorString();
    return words != nullptr && *words != '\0' ? words : "the scheduler gave no reason";
}

Status RequestFailure(const RequestGuard& guard, HotFolderError code) {
    const ipp_status_t status = cupsLastError();
    const bool transport = guard.GaveUp() || status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE ||
                           status == IPP_STATUS_ERROR_INTERNAL;
    return Status::Failure(transport ? HF_ERR_UNREACHABLE : code, LastError(guard));
}

Result<BoundedHttp> ConnectBounded(const StopSignal& stop, std::chrono::milliseconds silenceLimit,
                                   std::chrono::milliseconds connectLimit) {
    if (stop.Requested()) {
        return {{}, Status::Failure(HF_ERR_UNREACHABLE, "stopped before reaching the scheduler")};
    }
    BoundedHttp http{std::make_unique<RequestGuard>(silenceLimit), nullptr};
    {
        CancelOnStop cancel(stop);
        errno = 0;
        http.Connection.reset(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC,
                                           cupsEncryption(), 1,
                                           static_cast<int>(connectLimit.count()), cancel.Flag()));
    }
    if (!http.Connection) {
        const int error = errno;
        std::string reason = std::string("cannot reach the scheduler at ") + cupsServer();
        // libcups keeps the connect's own error (strerror) as its last one.
        const char* words = cupsLastErrorString();
        if (stop.Requested()) {
            reason = "stopped while connecting to the scheduler";
        } else if (words != nullptr && *words != '\0') {
            reason += std::string(": ") + words;
        } else if (error != 0) {
            reason += std::string(": ") + std::strerror(error);
        }
        return {{}, Status::Failure(HF_ERR_UNREACHABLE, std::move(reason))};
    }
    http.Guard->Attach(http.get());
    http.Guard->Watch(stop);
    return {std::move(http), {}};
}

std::optional<DestName> SplitName(const std::string& name) {
    if (name.empty()) return std::nullopt;
    const auto slash = name.find('/');
    if (slash == std::string::npos) return DestName{name, {}};
    DestName split{name.substr(0, slash), name.substr(slash + 1)};
    if (split.Queue.empty() || split.Instance.empty()) return std::nullopt;
    return split;
}

const char* UserOption(const DestContext& c, const char* name) {
    return cupsGetOption(name, c.Dest->num_options, c.Dest->options);
}

bool UserLandscape(const DestContext& c) {
    const char* value = UserOption(c, "landscape");
    if (value == nullptr) return false;
    const std::string_view v(value);
    return v != "false" && v != "no" && v != "off";
}

std::optional<int> ParsePositive(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
    return value;
}

std::vector<std::string> ListEntries(std::string_view list) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto comma = list.find(',', start);
        std::string entry =
            Trim(list.substr(start, comma == std::string_view::npos ? list.npos : comma - start));
        if (!entry.empty()) entries.push_back(std::move(entry));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return entries;
}

std::optional<Resolution> ParseResolution(std::string_view text) {
    bool perCm = false;
    if (text.ends_with("dpi")) {
        text.remove_suffix(3);
    } else if (text.ends_with("dpcm")) {
        text.remove_suffix(4);
        perCm = true;
    } else {
        return std::nullopt;
    }
    const auto x = text.find('x');
    const auto across = ParsePositive(text.substr(0, x));
    const auto down = x == std::string_view::npos ? across : ParsePositive(text.substr(x + 1));
    if (!across || !down) return std::nullopt;
    return Resolution{*across, *down, perCm};
}

std::optional<Resolution> ResolutionAt(ipp_attribute_t* attr, int i) {
    int down = 0;
    ipp_res_t units = IPP_RES_PER_INCH;
    const int across = ippGetResolution(attr, i, &down, &units);
    if (across <= 0 || down <= 0) return std::nullopt;
    return Resolution{across, down, units == IPP_RES_PER_CM};
}

int IntegerMember(ipp_t* collection, const char* name, int fallback) {
    ipp_attribute_t* attr = ippFindAttribute(collection, name, IPP_TAG_INTEGER);
    return attr != nullptr ? ippGetInteger(attr, 0) : fallback;
}

bool SameSize(Size a, Size b) {
    return std::abs(a.Width - b.Width) <= kSizeTolerance &&
           std::abs(a.Length - b.Length) <= kSizeTolerance;
}

std::optional<Size> SizeForMediaName(const std::string& name) {
    const pwg_media_t* pwg = pwgMediaForPWG(name.c_str());
    if (pwg == nullptr) pwg = pwgMediaForPPD(name.c_str());
    if (pwg == nullptr) pwg = pwgMediaForLegacy(name.c_str());
    if (pwg == nullptr || pwg->width <= 0 || pwg->length <= 0) return std::nullopt;
    return Size{pwg->width, pwg->length};
}

std::vector<cups_size_t> MediaDatabase(const DestContext& c) {
    std::vector<cups_size_t> entries;
    const int count = cupsGetDestMediaCount(c.Http, c.Dest, c.Info, CUPS_MEDIA_FLAGS_DEFAULT);
    for (int i = 0; i < count; ++i) {
        cups_size_t entry{};
        if (cupsGetDestMediaByIndex(c.Http, c.Dest, c.Info, i, CUPS_MEDIA_FLAGS_DEFAULT, &entry)) {
            entries.push_back(entry);
        }
    }
    return entries;
}

ipp_t* DefaultMediaCol(const DestContext& c) {
    ipp_attribute_t* col = cupsFindDestDefault(c.Http, c.Dest, c.Info, "media-col");
    if (col == nullptr || ippGetValueTag(col) != IPP_TAG_BEGIN_COLLECTION) return nullptr;
    return ippGetCollection(col, 0);
}

std::optional<Size> MediaColSize(ipp_t* mediaCol) {
    if (mediaCol == nullptr) return std::nullopt;
    ipp_attribute_t* size = ippFindAttribute(mediaCol, "media-size", IPP_TAG_BEGIN_COLLECTION);
    if (size == nullptr) return std::nullopt;
    ipp_t* dimensions = ippGetCollection(size, 0);
    return Size{IntegerMember(dimensions, "x-dimension", 0),
                IntegerMember(dimensions, "y-dimension", 0)};
}

}  // namespace cupsutil

}  // namespace tallowin
