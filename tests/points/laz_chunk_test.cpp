// LAZ chunks of point formats 0 to 3: every point decoded from a sample is
// the point of its uncompressed twin, and chunks cut short or spoiled
// decode without reading outside their bytes. The samples live outside the
// repository: the small LAZ file in tests/data/laz is decoded first, and
// the rest skips when they are absent.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "files.h"
#include "points/carried_laz.h"
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
    kestranov::Refusal why{kestranov::RefusalReason::no_laszip_vlr};
    for (std::uint32_t v = field<std::uint32_t>(f.data, 100); v > 0 && at + 54 <= f.data.size(); --v) {
        const std::uint16_t length = field<std::uint16_t>(f.data, at + 20);
        if (f.data.compare(at + 2, 14, "laszip encoded") == 0 && field<std::uint16_t>(f.data, at + 18) == 22204)
            f.vlr = parse_laszip_vlr(bytes(f.data, at + 54), length, why);
        at += 54 + length;
    }
    EXPECT_FALSE(why) << p;
    EXPECT_FALSE(check_laz_items(f.vlr, f.format, f.record_length)) << p;
    const std::uint32_t first = field<std::uint32_t>(f.data, 96);
    const auto table = static_cast<std::size_t>(field<std::int64_t>(f.data, first));
    f.chunks = decode_chunk_table(bytes(f.data, table + 8), bytes(f.data, f.data.size()),
                                  field<std::uint32_t>(f.data, table + 4), f.vlr, first + 8, f.points, why);
    EXPECT_FALSE(why) << p;
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

// Bytes [from, from + n) of `data`, to decode as a chunk of `count` points.
struct Piece {
    const std::string& data;
    std::size_t from, n, count;
};

// Two chunks decoded at once give each the status and points it has
// decoded alone, whatever their lengths and damage.
void expect_pair_as_alone(const std::vector<LazItem>& items, const Piece& a, const Piece& b)
{
    std::vector<unsigned char> bytes_a(bytes(a.data, a.from), bytes(a.data, a.from) + a.n),
        bytes_b(bytes(b.data, b.from), bytes(b.data, b.from) + b.n);
    std::vector<LazPoint> points_a(a.count), points_b(b.count), alone;
    LazChunkJob jobs[2] = {{bytes_a.data(), bytes_a.data() + a.n, a.count, points_a.data()},
                           {bytes_b.data(), bytes_b.data() + b.n, b.count, points_b.data()}};
    decode_laz_chunks(jobs[0], jobs[1], items, LazNeeds{true});
    for (const auto& [piece, job, points] : {std::tie(a, jobs[0], points_a), std::tie(b, jobs[1], points_b)}) {
        ASSERT_EQ(job.status, decode_exact(piece.data, piece.from, piece.n, items, piece.count, alone))
            << "chunk at " << piece.from << ", " << piece.n << " bytes";
        if (job.status != LazChunkStatus::ok) continue;
        for (std::size_t i = 0; i < alone.size(); ++i) {
            const LazPoint &p = points[i], &q = alone[i];
            ASSERT_TRUE(p.x == q.x && p.y == q.y && p.z == q.z && p.classification == q.classification &&
                        p.return_number == q.return_number && p.number_of_returns == q.number_of_returns)
                << "point " << i << " of the chunk at " << piece.from;
        }
    }
}

// Every point of `laz`'s chunks, decoded, against the records of `las`.
void expect_points_of_twin(const LazFile& laz, const std::string& las)
{
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
    // Each chunk decoded with the next (the one chunk of a file with itself),
    // and with the next's start: one longer than the other either way.
    for (std::size_t k = 0; k < laz.chunks.size(); ++k) {
        const LazChunk &a = laz.chunks[k], &b = laz.chunks[(k + 1) % laz.chunks.size()];
        expect_pair_as_alone(laz.vlr.items, {laz.data, a.offset, a.bytes, a.points},
                             {laz.data, b.offset, b.bytes, b.points});
        expect_pair_as_alone(laz.vlr.items, {laz.data, b.offset, b.bytes, b.points / 2},
                             {laz.data, a.offset, a.bytes, a.points});
    }
}

TEST(LazChunk, EveryPointIsThePointOfTheLasTwin)
{
    {
        SCOPED_TRACE("the carried file");
        expect_points_of_twin(open_laz(carried / "point10_4x10.laz"), twin_of_carried());
    }
    if (const std::string why = missing_sample({laz_data / "point10.laz", laz_data / "simple.laz"}); !why.empty())
        GTEST_SKIP() << why;
    for (const char* name : {"point10", "point-time", "point-color", "point-time-color", "extra-bytes", "simple"}) {
        SCOPED_TRACE(name);
        expect_points_of_twin(open_laz(laz_data / (std::string(name) + ".laz")),
                              read_file(laz_data / (std::string(name) + ".las")));
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
            expect_pair_as_alone(items, {junk, 0, n, 2000}, {junk, n / 2, n - n / 2, 700});
        }
    }
    // An item list that LASzip does not write is damage, not points.
    EXPECT_EQ(decode_exact("", 0, 0, {{LazItem::gpstime11, 8, 2}}, 1, points), LazChunkStatus::damaged);

    // A chunk cut anywhere ends early: the carried file's first (10 points
    // of format 1), and the sample's of GPS time and colour too.
    const std::filesystem::path sample = laz_data / "point-time-color.laz";
    for (const std::filesystem::path& p : {carried / "point10_4x10.laz", sample}) {
        if (p == sample && !std::filesystem::exists(p)) GTEST_SKIP() << no_sample(p);
        const LazFile laz = open_laz(p);
        const LazChunk& c = laz.chunks.at(0);
        for (std::size_t cut : {std::size_t{0}, std::size_t{33}, std::size_t{40}, c.bytes / 2, c.bytes - 8}) {
            EXPECT_EQ(decode_exact(laz.data, c.offset, cut, laz.vlr.items, c.points, points),
                      LazChunkStatus::ends_early)
                << p << ", cut at " << cut;
            expect_pair_as_alone(laz.vlr.items, {laz.data, c.offset, cut, c.points},
                                 {laz.data, c.offset, c.bytes, c.points});
        }
    }
}

}  // namespace
