#include <gtest/gtest.h>

#include <string>

#include "models/companion_run.h"

TEST(CompanionMessages, NamesAreKeptToOnePrintableLine)
{
    const struct {
        std::string name, shown;
    } cases[] = {
        {"a\nb\x1b]0;t\x07.asc", "a?b?]0;t?.asc"},
        {"\xc3\xa9t\xc3\xa9 \xe2\x80\xa8.asc", "\xc3\xa9t\xc3\xa9 \xe2\x80\xa8.asc"},
        {"c1 \xc2\x85 \xc2\x9b.asc", "c1 ? ?.asc"},
        {"lone \x9b \xc2 \xff.asc", "lone ? ? ?.asc"},
        {"cut \xe2\x80", "cut ??"},
    };
    for (const auto& c : cases) EXPECT_EQ(kestranov::models::one_line(c.name), c.shown) << c.name;
}
