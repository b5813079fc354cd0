// The LASzip VLRs and chunk tables that no LASzip writes are refused with a
// reason.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "points/laz_format.h"

namespace {

using namespace kestranov;

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
        const char* why;  // a word of the reason; "" to accept
    };
    const std::uint16_t p10 = LazItem::point10, t11 = LazItem::gpstime11, c12 = LazItem::rgb12, b = LazItem::byte;
    const std::uint16_t p14 = LazItem::point14, c14 = LazItem::rgb14, n14 = LazItem::rgbnir14, b14 = LazItem::byte14;
    const Case cases[] = {
        {laszip_vlr(2, {p10, 20, 2}), 0, 20, ""},
        {laszip_vlr(2, {p10, 20, 2, t11, 8, 2, c12, 6, 2, b, 27, 2}), 3, 61, ""},
        {laszip_vlr(2, {p10, 20, 2, c12, 6, 2}), 2, 26, ""},
        {laszip_vlr(3, {p14, 30, 3, n14, 8, 3, b14, 4, 3}), 8, 42, ""},
        {laszip_vlr(3, {p14, 30, 4, c14, 6, 4}), 7, 36, ""},
        {laszip_vlr(2, {p10, 20, 2, t11, 8, 2}).substr(0, 43), 1, 28, "2 items in 43"},
        {laszip_vlr(2, {}), 0, 20, "bytes"},
        {laszip_vlr(2, {p10, 20, 2, 9, 29, 1}), 4, 57, "waveform"},
        {laszip_vlr(3, {p14, 30, 3, 13, 29, 3}), 9, 59, "waveform"},
        {laszip_vlr(1, {p10, 20, 1}), 0, 20, "compressor 1"},
        {laszip_vlr(2, {p10, 20, 1, t11, 8, 1}), 1, 28, "LASzip 1"},
        {laszip_vlr(3, {p14, 30, 2}), 6, 30, "version"},
        {laszip_vlr(3, {p10, 20, 2}), 0, 20, "compressor 3"},
        {laszip_vlr(2, {p10, 20, 2}), 1, 20, "not what LASzip writes"},
        {laszip_vlr(2, {p10, 20, 2, c12, 6, 2, t11, 8, 2}), 3, 34, "not what LASzip writes"},
        {laszip_vlr(2, {p10, 20, 2, b, 4, 2}), 0, 25, "add up"},
        {laszip_vlr(2, {p10, 20, 2}, 0), 0, 20, "0 points"},
    };
    for (const Case& c : cases) {
        std::string why;
        const LaszipVlr v = parse_laszip_vlr(bytes(c.vlr), c.vlr.size(), why);
        if (why.empty()) why = check_laz_items(v, c.format, c.record);
        SCOPED_TRACE(c.why);
        if (*c.why == '\0') {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
        }
    }
}

TEST(LazFormat, ChunkTables)
{
    std::string why;
    const std::string vlr_bytes = laszip_vlr(2, {LazItem::point10, 20, 2});
    LaszipVlr fixed = parse_laszip_vlr(bytes(vlr_bytes), vlr_bytes.size(), why);
    LaszipVlr variable = fixed;
    variable.chunk_size = 0xFFFFFFFFu;
    // The table of point10.laz: one chunk of 1065 points from byte 329 to
    // the table at 9962.
    const std::string table("\x71\x29\x0c\x00\x00\x00", 6);
    auto chunks = decode_chunk_table(bytes(table), bytes(table, 6), 1, fixed, 329, 1065, why);
    ASSERT_EQ(why, "");
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].offset, 329u);
    EXPECT_EQ(chunks[0].bytes, 9962u - 329u);
    EXPECT_EQ(chunks[0].points, 1065u);

    struct Case {
        std::string table;
        std::uint32_t chunks;
        bool variable;
        std::uint64_t points;
        const char* why;
    };
    const Case cases[] = {
        {table, 2, false, 1065, "make 1"},             // a count that the points do not give
        {table, 1, false, 50001, "make 2"},            // and the other way
        {table, 3, true, 2, "3 chunks for 2"},         // more variable chunks than points
        {table.substr(0, 2), 1, false, 1065, "ends"},  // cut short
        {std::string(8, '\0'), 1, false, 1065, "0 bytes"},
        {std::string(8, '\0'), 1, true, 1065, "0 points"},
    };
    for (const Case& c : cases) {
        chunks = decode_chunk_table(bytes(c.table), bytes(c.table, c.table.size()), c.chunks,
                                    c.variable ? variable : fixed, 329, c.points, why);
        EXPECT_TRUE(chunks.empty()) << c.why;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
    EXPECT_TRUE(decode_chunk_table(bytes(table), bytes(table, 6), 0, fixed, 329, 0, why).empty());
    EXPECT_EQ(why, "");
}

}  // namespace
