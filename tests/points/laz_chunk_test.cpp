// LAZ chunks of point formats 0 to 3: every point decoded from a sample is
// the point of its uncompressed twin, the VLRs and chunk tables that no
// LASzip writes are refused with a reason, and chunks cut short or spoiled
// decode without reading outside their bytes. The samples live outside the
// repository: the tests that need them skip when they are absent.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "files.h"
#include "points/laz_chunk.h"
#include "points/laz_format.h"

namespace {

using namespace kestranov;

const std::filesystem::path laz_data = std::filesystem::path(KESTRANOV_SHARED_DATA) / "laz";

const unsigned char* bytes(const std::string& s, std::size_t at = 0)
{
    return reinterpret_cast<const unsigned char*>(s.data()) + at;
}

// A LAZ file of formats 0 to 5 taken apart as a reader would: its header's
// fields, its LASzip VLR and its chunks.
struct LazFile {
    std::string data;
    int format = 0;
    std::size_t record_length = 0, points = 0;
    LaszipVlr vlr;
    std::vector<LazChunk> chunks;
};

LazFile open_laz(const std::filesystem::path& p)
{
    LazFile f;
    f.data = read_file(p);
    f.format = field<std::uint8_t>(f.data, 104) & 0x3F;
    f.record_length = field<std::uint16_t>(f.data, 105);
    f.points = field<std::uint32_t>(f.data, 107);
    std::size_t at = field<std::uint16_t>(f.data, 94);
    std::string why = "no LASzip VLR";
    for (std::uint32_t v = field<std::uint32_t>(f.data, 100); v > 0 && at + 54 <= f.data.size(); --v) {
        const std::uint16_t length = field<std::uint16_t>(f.data, at + 20);
        if (f.data.compare(at + 2, 14, "laszip encoded") == 0 && field<std::uint16_t>(f.data, at + 18) == 22204)
            f.vlr = parse_laszip_vlr(bytes(f.data, at + 54), length, why);
        at += 54 + length;
    }
    EXPECT_EQ(why, "") << p;
    EXPECT_EQ(check_laz_items(f.vlr, f.format, f.record_length), "") << p;
    const std::uint32_t first = field<std::uint32_t>(f.data, 96);
    const auto table = static_cast<std::size_t>(field<std::int64_t>(f.data, first));
    f.chunks = decode_chunk_table(bytes(f.data, table + 8), bytes(f.data, f.data.size()),
                                  field<std::uint32_t>(f.data, table + 4), f.vlr, first + 8, f.points, why);
    EXPECT_EQ(why, "") << p;
    // The chunks fill the file from the table pointer to the table.
    if (!f.chunks.empty()) {
        EXPECT_EQ(f.chunks.back().offset + f.chunks.back().bytes, table) << p;
    }
    return f;
}

// A chunk copied into a buffer of its own size, so that a read beyond it
// is a fault the address sanitizer reports.
LazChunkStatus decode_exact(const std::string& data, std::size_t from, std::size_t n, const std::vector<LazItem>& items,
                            std::size_t count, std::vector<LazPoint>& out)
{
    std::vector<unsigned char> chunk(bytes(data, from), bytes(data, from) + n);
    out.assign(count, LazPoint{});
    return decode_laz_chunk(chunk.data(), chunk.data() + chunk.size(), items, count, LazNeeds{true}, out.data());
}

TEST(LazChunk, EveryPointIsThePointOfTheLasTwin)
{
    if (!std::filesystem::exists(laz_data / "point10.laz")) GTEST_SKIP() << "no LAZ samples at " << laz_data;
    for (const char* name : {"point10", "point-time", "point-color", "point-time-color", "extra-bytes", "simple"}) {
        SCOPED_TRACE(name);
        const LazFile laz = open_laz(laz_data / (std::string(name) + ".laz"));
        const std::string las = read_file(laz_data / (std::string(name) + ".las"));
        const std::size_t at = field<std::uint32_t>(las, 96), length = field<std::uint16_t>(las, 105);
        ASSERT_EQ(field<std::uint32_t>(las, 107), laz.points);
        std::size_t i = 0, wrong = 0;
        std::vector<LazPoint> points;
        for (const LazChunk& c : laz.chunks) {
            ASSERT_EQ(decode_exact(laz.data, c.offset, c.bytes, laz.vlr.items, c.points, points), LazChunkStatus::ok);
            for (const LazPoint& p : points) {
                const std::size_t r = at + length * i++;
                const std::uint8_t flags = field<std::uint8_t>(las, r + 14);
                const bool same = p.x == field<std::int32_t>(las, r) && p.y == field<std::int32_t>(las, r + 4) &&
                                  p.z == field<std::int32_t>(las, r + 8) &&
                                  p.classification == (field<std::uint8_t>(las, r + 15) & 0x1F) &&
                                  p.return_number == (flags & 7) && p.number_of_returns == ((flags >> 3) & 7);
                if (!same && wrong++ < 3) ADD_FAILURE() << "point " << i << " differs";
            }
        }
        EXPECT_EQ(i, laz.points);
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(LazChunk, AChunkCutShortEndsEarlyAndSpoiledBytesStayInside)
{
    const std::vector<std::vector<LazItem>> lists = {
        {{LazItem::point10, 20, 2}},
        {{LazItem::point10, 20, 2}, {LazItem::gpstime11, 8, 2}, {LazItem::rgb12, 6, 2}, {LazItem::byte, 3, 2}},
    };
    std::vector<LazPoint> points;
    // Random bytes are some points or an early end; under the sanitizer,
    // never a read outside the chunk.
    std::mt19937 random(20240611);
    for (const auto& items : lists) {
        for (std::size_t n : {0, 5, 40, 600, 5000}) {
            std::string junk(n, '\0');
            for (char& c : junk) c = static_cast<char>(random());
            const LazChunkStatus s = decode_exact(junk, 0, n, items, 2000, points);
            EXPECT_NE(s, LazChunkStatus::damaged) << n;
            if (n < 40) {
                EXPECT_EQ(s, LazChunkStatus::ends_early) << n;
            }
        }
    }
    // An item list that LASzip does not write is damage, not points.
    EXPECT_EQ(decode_exact("", 0, 0, {{LazItem::gpstime11, 8, 2}}, 1, points), LazChunkStatus::damaged);

    if (!std::filesystem::exists(laz_data / "point-time-color.laz")) GTEST_SKIP() << "no LAZ samples at " << laz_data;
    const LazFile laz = open_laz(laz_data / "point-time-color.laz");
    const LazChunk& c = laz.chunks.at(0);
    for (std::size_t cut : {std::size_t{0}, std::size_t{33}, std::size_t{40}, c.bytes / 2, c.bytes - 8}) {
        EXPECT_EQ(decode_exact(laz.data, c.offset, cut, laz.vlr.items, c.points, points), LazChunkStatus::ends_early)
            << cut;
    }
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
