// Where a streamed page's document goes, and how a long run is asked to end.
#pragma once

#include <functional>

// PageSink (the document's bytes in order, false to refuse them) is the
// engine's, so that the printer and the page writer share it.
#include "engine/ports/services.h"

namespace tallowin {

// Asked between strips: true once the page should be abandoned.
using StopQuery = std::function<bool()>;

}  // namespace tallowin
