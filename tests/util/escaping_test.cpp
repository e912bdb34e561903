#include "util/escaping.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

TEST(Escaping, EveryByteComesBackAndNoFieldBreaksALine) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain name.jpg", "plain name.jpg"},
        {"a\tb", "a\\tb"},
        {"two\nlines\r", "two\\nlines\\r"},
        {"back\\slash\\t", "back\\\\slash\\\\t"},
        {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
        {"", ""},
    };
    for (const auto& [field, written] : cases) {
        SCOPED_TRACE(written);
        std::string out = "x";
        AppendEscaped(out, field);
        EXPECT_EQ(out, "x" + written);
        EXPECT_EQ(out.find_first_of("\t\n\r", 1), std::string::npos);
        EXPECT_EQ(Unescaped(written), field);
    }
}

TEST(Escaping, ADamagedFieldIsNotReadAsAnother) {
    for (const char* damaged : {"ends\\", "\\x", "a\\ b"}) {
        EXPECT_EQ(Unescaped(damaged), std::nullopt) << damaged;
    }
}

}  // namespace
