// The job option text reader on any bytes, against libcups itself: every
// text it accepts, cupsParseOptions reads into the same options, and every
// text it refuses carries a reason.
#include <cups/cups.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_support.h"
#include "util/option_text.h"

using namespace tallowin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // What a profile value can hold: one line, no NUL.
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos) return 0;
    const OptionText ours = ParseOptionText(text);
    if (!ours.Ok()) {
        fuzz::Check(ours.Options.empty(), "a refused text gives no options");
        return 0;
    }
    cups_option_t* options = nullptr;
    const int count = cupsParseOptions(text.c_str(), 0, &options);
    fuzz::Check(static_cast<std::size_t>(count) == ours.Options.size(),
                "an accepted text gives as many options as in CUPS", text);
    for (const NamedValue& option : ours.Options) {
        const char* value = cupsGetOption(option.Name.c_str(), count, options);
        fuzz::Check(value != nullptr && option.Value == value,
                    "an accepted text gives the values CUPS gives", option.Name);
    }
    cupsFreeOptions(count, options);
    return 0;
}
