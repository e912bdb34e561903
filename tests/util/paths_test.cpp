#include "util/paths.h"

#include <gtest/gtest.h>

using namespace tallowin;

namespace {

TEST(PathsTest, NumberedNameGoesBeforeTheLastExtension) {
    struct Case {
        const char* Name;
        int N;
        const char* Numbered;
    };
    const Case cases[] = {
        {"photo.jpg", 1, "photo.jpg"},       {"photo.jpg", 2, "photo (2).jpg"},
        {"photo.jpg", 10, "photo (10).jpg"}, {"README", 3, "README (3)"},
        {".profile", 2, ".profile (2)"},     {"a.tar.gz", 2, "a.tar (2).gz"},
        {"trailing.", 2, "trailing (2)."},   {"My Photo.JPEG", 2, "My Photo (2).JPEG"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(NumberedName(c.Name, c.N), c.Numbered);
    }
}

}  // namespace
