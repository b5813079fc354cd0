// The LASzip VLRs and chunk tables that no LASzip writes are refused with a
// reason and its facts; the words for the reasons no file of the LAZ
// reader's tests reaches are checked here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "points/laz_format.h"
#include "run/reading_words.h"

namespace {

using namespace kestranov;
using Why = RefusalReason;

const unsigned char* bytes(const std::string& s, std::size_t at = 0)
{
    return reinterpret_cast<const unsigned char*>(s.data()) + at;
}

// The LASzip VLR of `items` (type, size, version each) after the head.
std::string laszip_vlr(std::uint16_t compressor, std::vector<std::uint16_t> items, std::uint32_t chunk = 50000)
{
    std::string v(34, '\0');
    std::memcpy(v.data(), &compressor, 2);
    v[4] = 3;
    std::memcpy(v.data() + 12, &chunk, 4);
    const auto n = static_cast<std::uint16_t>(items.size() / 3);
    std::memcpy(v.data() + 32, &n, 2);
    for (std::uint16_t x : items) v.append(reinterpret_cast<const char*>(&x), 2);
    return v;
}

TEST(LazFormat, VlrsAndItemListsNoLaszipWritesAreRefused)
{
    struct Case {
        std::string vlr;
        int format;
        std::size_t record;
        Refusal want;  // none: accepted
        const char* words = "";
    };
    const std::uint16_t p10 = LazItem::point10, t11 = LazItem::gpstime11, c12 = LazItem::rgb12, b = LazItem::byte;
    const std::uint16_t p14 = LazItem::point14, c14 = LazItem::rgb14, n14 = LazItem::rgbnir14, b14 = LazItem::byte14;
    const Case cases[] = {
        {laszip_vlr(2, {p10, 20, 2}), 0, 20, {}},
        {laszip_vlr(2, {p10, 20, 2, t11, 8, 2, c12, 6, 2, b, 27, 2}), 3, 61, {}},
        {laszip_vlr(2, {p10, 20, 2, c12, 6, 2}), 2, 26, {}},
        {laszip_vlr(3, {p14, 30, 3, n14, 8, 3, b14, 4, 3}), 8, 42, {}},
        {laszip_vlr(3, {p14, 30, 4, c14, 6, 4}), 7, 36, {}},
        {laszip_vlr(2, {p10, 20, 2, t11, 8, 2}).substr(0, 43), 1, 28, {Why::laszip_vlr_item_count, {2, 43, 34}}},
        {laszip_vlr(2, {}), 0, 20, {Why::laszip_vlr_short, {34, 40}}},
        {laszip_vlr(2, {p10, 20, 2, 9, 29, 1}), 4, 57, {Why::laz_waveforms, {4}}},
        {laszip_vlr(3, {p14, 30, 3, 13, 29, 3}), 9, 59, {Why::laz_waveforms, {9}}},
        {laszip_vlr(2, {p10, 20, 2}),
         11,
         20,
         {Why::laz_point_format, {11}},
         "its LAZ point format 11 is none of 0 to 10"},
        {laszip_vlr(1, {p10, 20, 1}), 0, 20, {Why::laz_pointwise}},
        {laszip_vlr(2, {p10, 20, 1, t11, 8, 1}), 1, 28, {Why::laz_items_of_laszip1, {}, {{p10, 20, 1}}}},
        {laszip_vlr(3, {p14, 30, 2}), 6, 30, {Why::laz_item_version, {}, {{p14, 30, 2}}}},
        {laszip_vlr(3, {p10, 20, 2}), 0, 20, {Why::laz_compressor_for_chunks, {3, 0}}},
        {laszip_vlr(2, {p10, 20, 2}), 1, 20, {Why::laz_items_unlike_format, {1}, {{p10, 20, 2}}}},
        {laszip_vlr(2, {p10, 20, 2, c12, 6, 2, t11, 8, 2}),
         3,
         34,
         {Why::laz_items_unlike_format, {3}, {{p10, 20, 2}, {c12, 6, 2}, {t11, 8, 2}}}},
        {laszip_vlr(2, {p10, 20, 2, b, 4, 2}), 0, 25, {Why::laz_items_sum, {24, 25}, {{p10, 20, 2}, {b, 4, 2}}}},
        {laszip_vlr(2, {p10, 20, 2}, 0), 0, 20, {Why::laz_chunks_of_none}},
    };
    for (const Case& c : cases) {
        Refusal why;
        const LaszipVlr v = parse_laszip_vlr(bytes(c.vlr), c.vlr.size(), why);
        if (!why) why = check_laz_items(v, c.format, c.record);
        EXPECT_EQ(why, c.want) << refusal_words(why);
        if (*c.words) {
            EXPECT_EQ(refusal_words(why), c.words);
        }
    }
}

TEST(LazFormat, ChunkTables)
{
    Refusal why;
    const std::string vlr_bytes = laszip_vlr(2, {LazItem::point10, 20, 2});
    LaszipVlr fixed = parse_laszip_vlr(bytes(vlr_bytes), vlr_bytes.size(), why);
    LaszipVlr variable = fixed;
    variable.chunk_size = 0xFFFFFFFFu;
    // The table of point10.laz: one chunk of 1065 points from byte 329 to
    // the table at 9962.
    const std::string table("\x71\x29\x0c\x00\x00\x00", 6);
    auto chunks = decode_chunk_table(bytes(table), bytes(table, 6), 1, fixed, 329, 1065, why);
    ASSERT_FALSE(why);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].offset, 329u);
    EXPECT_EQ(chunks[0].bytes, 9962u - 329u);
    EXPECT_EQ(chunks[0].points, 1065u);

    struct Case {
        std::string table;
        std::uint32_t chunks;
        bool variable;
        std::uint64_t points;
        Refusal want;
        const char* words;
    };
    const std::string zeros(8, '\0');
    const Case cases[] = {
        // A count that the points do not give, and the other way.
        {table,
         2,
         false,
         1065,
         {Why::laz_table_count_fixed, {2, 1065, 50000, 1}},
         "its LAZ chunk table lists 2 chunks, where 1065 points in chunks of 50000 make 1"},
        {table, 1, false, 50001, {Why::laz_table_count_fixed, {1, 50001, 50000, 2}}, ""},
        {table, 3, true, 2, {Why::laz_table_count_variable, {3, 2}}, ""},  // more variable chunks than points
        {table.substr(0, 2),
         1,
         false,
         1065,
         {Why::laz_table_ends_within, {1, 1}},  // cut short
         "its LAZ chunk table ends within chunk 1 of 1"},
        {zeros,
         1,
         false,
         1065,
         {Why::laz_table_chunk_bytes, {1, 0, 329}},
         "its LAZ chunk table gives chunk 1 0 bytes at offset 329"},
        {zeros,
         1,
         true,
         1065,
         {Why::laz_table_chunk_points, {1, 0, 1065, 1065}},
         "its LAZ chunk table gives chunk 1 0 points, where 1065 are left of the header's 1065"},
        // One variable chunk of 1 point, where the header has more.
        {std::string("\x04", 1) + zeros,
         1,
         true,
         1000000,
         {Why::laz_table_points_held, {1, 1000000}},
         "its LAZ chunk table's chunks hold 1 point, where the header says 1000000"},
    };
    for (const Case& c : cases) {
        chunks = decode_chunk_table(bytes(c.table), bytes(c.table, c.table.size()), c.chunks,
                                    c.variable ? variable : fixed, 329, c.points, why);
        EXPECT_TRUE(chunks.empty()) << c.words;
        EXPECT_EQ(why, c.want) << refusal_words(why);
        if (*c.words) {
            EXPECT_EQ(refusal_words(why), c.words);
        }
    }
    EXPECT_TRUE(decode_chunk_table(bytes(table), bytes(table, 6), 0, fixed, 329, 0, why).empty());
    EXPECT_FALSE(why);
}

}  // namespace
