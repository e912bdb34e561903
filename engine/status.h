// Errors as values: what failed, as the hot folder's error code the window
// shows, and the library's own words (libvips's error buffer,
// cupsLastErrorString(), strerror), for the log and the window's tooltip.
#pragma once

#include <string>
#include <utility>

#include "engine/hot_folder_types.h"

namespace tallowin {

struct Status {
    HotFolderError Code = HF_ERR_NONE;
    std::string Reason;  // empty on success; never empty on failure

    bool Ok() const { return Code == HF_ERR_NONE; }
    static Status Success() { return {}; }
    static Status Failure(HotFolderError code, std::string reason) {
        return {code, std::move(reason)};
    }
};

// A value, or the status that explains why there is none. Value is only
// meaningful while Error.Ok().
template <class T>
struct Result {
    T Value{};
    Status Error;

    bool Ok() const { return Error.Ok(); }
};

}  // namespace tallowin
