// Layered LAZ chunks (point formats 6 to 8): every point decoded from the
// samples is the point their LAS twins hold, with and without the
// classification layer, and a chunk that is cut or miscounted is reported,
// never read beyond. The samples live outside the repository; a one-point
// chunk made here checks the layout without them.
#include "points/laz_layered.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "files.h"
#include "points/laz_format.h"

namespace {

using kestranov::LazChunkStatus;
using kestranov::LazItem;
using kestranov::LazNeeds;
using kestranov::LazPoint;
using Bytes = std::vector<unsigned char>;

const std::filesystem::path laz_data = std::filesystem::path(KESTRANOV_SHARED_DATA) / "laz";

using Chunk = kestranov::LazChunk;

struct LazFile {
    std::string bytes;
    std::vector<LazItem> items;
    std::vector<Chunk> chunks;
};

// The sample's items and chunks, through the LAZ reader's own parsing of
// the VLR and the chunk table.
LazFile open_laz(const std::filesystem::path& path)
{
    LazFile f{read_file(path), {}, {}};
    const std::string& b = f.bytes;
    const auto* u = reinterpret_cast<const unsigned char*>(b.data());
    kestranov::LaszipVlr vlr;
    kestranov::Refusal why;
    std::size_t at = field<std::uint16_t>(b, 94);
    for (std::uint32_t v = field<std::uint32_t>(b, 100); v > 0; --v, at += 54 + field<std::uint16_t>(b, at + 20))
        if (b.compare(at + 2, 14, "laszip encoded") == 0)
            vlr = kestranov::parse_laszip_vlr(u + at + 54, field<std::uint16_t>(b, at + 20), why);
    const auto points_at = field<std::uint32_t>(b, 96);
    const auto table = static_cast<std::size_t>(field<std::int64_t>(b, points_at));
    if (!why)
        f.chunks = kestranov::decode_chunk_table(u + table + 8, u + b.size(), field<std::uint32_t>(b, table + 4), vlr,
                                                 points_at + 8, field<std::uint64_t>(b, 247), why);
    EXPECT_FALSE(why) << path;
    f.items = vlr.items;
    return f;
}

// The chunk's bytes alone in a buffer of their size, so that a read beyond
// them is the sanitizer's to see.
Bytes chunk_bytes(const LazFile& f, const Chunk& c, std::size_t keep)
{
    const auto* p = reinterpret_cast<const unsigned char*>(f.bytes.data()) + c.offset;
    return Bytes(p, p + keep);
}

LazChunkStatus decode(const Bytes& chunk, const std::vector<LazItem>& items, std::size_t count, bool classes,
                      std::vector<LazPoint>& out)
{
    out.assign(count, LazPoint{});
    return kestranov::decode_layered_chunk(chunk.data(), chunk.data() + chunk.size(), items, count, LazNeeds{classes},
                                           out.data());
}

TEST(LazLayered, SamplesDecodeToTheirLasTwins)
{
    if (const std::string why = missing_sample({laz_data / "autzen_f6.laz", laz_data / "autzen_f8.las"}); !why.empty())
        GTEST_SKIP() << why;
    for (const char* name : {"autzen_f6", "autzen_f7", "autzen_f8"}) {
        SCOPED_TRACE(name);
        const LazFile sample = open_laz(laz_data / (std::string(name) + ".laz"));
        const std::string sample_las = read_file(laz_data / (std::string(name) + ".las"));
        const std::size_t length = field<std::uint16_t>(sample_las, 105);
        const std::size_t record = field<std::uint32_t>(sample_las, 96);
        ASSERT_GT(sample.chunks.size(), 1u);
        // The samples' classes are all below 32: a copy whose chunks start
        // with classes of 32 and more (chunk k's first point, stored whole,
        // gets bit 5 + k % 3), which the next point's context reduces to
        // their low 5 bits, as it did the sample's own classes.
        LazFile high = sample;
        std::string high_las = sample_las;
        std::size_t first = 0;
        for (std::size_t k = 0; k < high.chunks.size(); first += high.chunks[k++].points) {
            const auto bit = static_cast<char>(0x20 << (k % 3));
            high.bytes[high.chunks[k].offset + 16] |= bit;
            high_las[record + first * length + 16] |= bit;
        }
        for (int pass : {0, 1, 2}) {
            const bool classes = pass > 0;
            const LazFile& laz = pass < 2 ? sample : high;
            const std::string& las = pass < 2 ? sample_las : high_las;
            std::size_t point = 0;
            for (const Chunk& c : laz.chunks) {
                std::vector<LazPoint> out;
                ASSERT_EQ(decode(chunk_bytes(laz, c, c.bytes), laz.items, c.points, classes, out), LazChunkStatus::ok);
                for (const LazPoint& p : out) {
                    const std::size_t r = record + (point++) * length;
                    ASSERT_EQ(p.x, field<std::int32_t>(las, r)) << "point " << point - 1;
                    ASSERT_EQ(p.y, field<std::int32_t>(las, r + 4)) << "point " << point - 1;
                    ASSERT_EQ(p.z, field<std::int32_t>(las, r + 8)) << "point " << point - 1;
                    ASSERT_EQ(p.return_number, las[r + 14] & 0x0F) << "point " << point - 1;
                    ASSERT_EQ(p.number_of_returns, static_cast<unsigned char>(las[r + 14]) >> 4);
                    ASSERT_EQ(p.classification, classes ? static_cast<unsigned char>(las[r + 16]) : 0);
                }
            }
            EXPECT_EQ(point, field<std::uint64_t>(las, 247));
        }
    }
}

TEST(LazLayered, CutOrMiscountedChunksAreReported)
{
    if (!std::filesystem::exists(laz_data / "autzen_f7.laz")) GTEST_SKIP() << no_sample(laz_data / "autzen_f7.laz");
    const LazFile laz = open_laz(laz_data / "autzen_f7.laz");
    const Chunk& c = laz.chunks.front();
    // Bytes kept of the chunk: within the first point, within the layer
    // counts, in the XY layer, in the skipped RGB layer, one short.
    ASSERT_EQ(laz.items.size(), 2u);  // point14 (9 layers) and RGB (1)
    const std::size_t counts_at = 30 + 6 + 4, layers_at = counts_at + 4 * 10;
    for (std::size_t keep :
         {std::size_t{0}, std::size_t{20}, counts_at + 5, layers_at + 100, c.bytes / 2, c.bytes - 1}) {
        std::vector<LazPoint> out;
        EXPECT_EQ(decode(chunk_bytes(laz, c, keep), laz.items, c.points, true, out), LazChunkStatus::ends_early)
            << keep << " bytes of " << c.bytes;
    }
    std::vector<LazPoint> out;
    EXPECT_EQ(decode(chunk_bytes(laz, c, c.bytes), laz.items, c.points - 1, true, out), LazChunkStatus::miscounted);
    // The XY layer cut short with the counts made to agree: the stream itself
    // runs out.
    Bytes short_xy = chunk_bytes(laz, c, c.bytes);
    std::uint32_t xy;
    std::memcpy(&xy, short_xy.data() + counts_at, 4);
    const std::uint32_t cut = xy / 2;
    std::memcpy(short_xy.data() + counts_at, &cut, 4);
    short_xy.erase(short_xy.begin() + static_cast<std::ptrdiff_t>(layers_at + cut),
                   short_xy.begin() + static_cast<std::ptrdiff_t>(layers_at + xy));
    EXPECT_EQ(decode(short_xy, laz.items, c.points, false, out), LazChunkStatus::ends_early);
    Bytes beyond = chunk_bytes(laz, c, c.bytes);
    std::memset(beyond.data() + counts_at + 4, 0xFF, 4);  // the Z layer's count
    EXPECT_EQ(decode(beyond, laz.items, c.points, false, out), LazChunkStatus::ends_early);
    // Spoiled counts and layers decode to other points or a status, and are
    // never read beyond (which the sanitizer build sees).
    std::mt19937 rng(2024);
    for (int i = 0; i < 40; ++i) {
        Bytes spoiled = chunk_bytes(laz, c, c.bytes);
        spoiled[rng() % layers_at] ^= static_cast<unsigned char>(1 + rng() % 255);
        for (int k = 0; k < 3; ++k) spoiled[rng() % spoiled.size()] ^= static_cast<unsigned char>(1 + rng() % 255);
        const LazChunkStatus s = decode(spoiled, laz.items, c.points, i % 2 == 0, out);
        EXPECT_TRUE(s == LazChunkStatus::ok || s == LazChunkStatus::ends_early || s == LazChunkStatus::damaged ||
                    s == LazChunkStatus::miscounted);
    }
}

// A chunk of one point is its raw record, its count and empty layers: the
// layout without the samples.
TEST(LazLayered, OnePointChunkIsItsRecord)
{
    const std::vector<LazItem> items = {{LazItem::point14, 30, 3}, {LazItem::byte14, 2, 3}};
    Bytes chunk(32 + 4 + 4 * 11, 0);
    const std::int32_t xyz[3] = {-1234567, 7654321, 42};
    std::memcpy(chunk.data(), xyz, sizeof xyz);
    chunk[14] = 0x32, chunk[15] = 0x20, chunk[16] = 200, chunk[32] = 1;
    std::vector<LazPoint> out;
    ASSERT_EQ(decode(chunk, items, 1, true, out), LazChunkStatus::ok);
    EXPECT_EQ(out[0].x, -1234567);
    EXPECT_EQ(out[0].y, 7654321);
    EXPECT_EQ(out[0].z, 42);
    EXPECT_EQ(out[0].return_number, 2);
    EXPECT_EQ(out[0].number_of_returns, 3);
    EXPECT_EQ(out[0].classification, 200);
    EXPECT_EQ(decode(chunk, items, 2, true, out), LazChunkStatus::miscounted);       // the chunk says one point
    EXPECT_EQ(decode(chunk, {items[0]}, 1, true, out), LazChunkStatus::miscounted);  // the count read off the record
    Bytes longer = chunk;
    longer.push_back(0);
    EXPECT_EQ(decode(longer, items, 1, true, out), LazChunkStatus::damaged);  // a byte no layer counts
    longer[32 + 4 + 4 * 10] = 1;
    EXPECT_EQ(decode(longer, items, 1, true, out), LazChunkStatus::ok);  // ... counted as an extra byte's layer
    longer[32 + 4 + 4 * 10] = 2;
    EXPECT_EQ(decode(longer, items, 1, true, out), LazChunkStatus::ends_early);
    EXPECT_EQ(decode(chunk, {items[1], items[0]}, 1, true, out), LazChunkStatus::damaged);  // point14 not first
}

}  // namespace
