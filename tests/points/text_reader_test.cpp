#include <gtest/gtest.h>

#include <string>

#include "support.h"

using namespace kestranov;

// A token as long as the reader's 4 MiB block or longer cannot be held
// whole with the blank that ends it: it is refused as not a number, even
// when its digits would make one, and the message shows only its first 40
// characters. One byte shorter, it is read, on one thread or two, and
// whether the file is read or mapped: with records after it, the reading
// maps a quarter of a megabyte at a time, where a long token has no end.
TEST(TextReader, ATokenAsLongAsTheReadingBlockIsRefused)
{
    std::string records;
    while (records.size() < (5u << 20)) records += "0 1 2\n1 0 2\n";
    for (const std::string& after : {std::string(), records})
        for (const int threads : {1, 2})
            for (const std::size_t length : {(4u << 20) - 1, 4u << 20, 5u << 20}) {
                Session s;
                s.st.reading.threads = threads;
                s.st.seams.threads_from_bytes = 0;
                s.put("a.xyz", "0 0 1\n1 1 2\n0 1 1." + std::string(length - 2, '0') + "\n" + after);
                const bool read = length < (4u << 20);
                EXPECT_EQ(s.run(gridding_answers({"a"}, "1", 0) + "dem\n0\n"), read ? 0 : 1) << length;
                const std::string t = s.console();
                EXPECT_EQ(t.ends_with("\n\n\tFile c:\\images\\zone1\\a.xyz, record 3: \"1." + std::string(38, '0') +
                                      "...\" is not a number\n"),
                          !read)
                    << length << ", " << after.size() << " bytes after it"
                    << t.substr(t.size() > 300 ? t.size() - 300 : 0);
            }
}
