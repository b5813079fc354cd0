// LAZ point files: a DEM from a LAZ file is byte for byte the DEM from its
// LAS twin, on any thread count, and a file the reader cannot read is
// refused naming it, with nothing written. The small file in tests/data/laz
// keeps both tested without the samples.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>

#include "points/carried_laz.h"
#include "support.h"

namespace {

const std::filesystem::path laz_data = std::filesystem::path(KESTRANOV_SHARED_DATA) / "laz";

struct Outcome {
    int status;
    std::string console;
    std::map<std::string, std::string> outputs;
    bool operator==(const Outcome&) const = default;
};

// A run on the point file `name` on `threads` threads; the console with the
// file shown as p.las, so that a LAZ run and a LAS run compare.
Outcome run_on(const std::string& name, const std::string& bytes, const std::string& answers, int threads = 1,
               int failing_start = -1, int failing_chunk = -1, std::size_t laz_budget = 16 << 20)
{
    Session s;
    s.st.reading.threads = threads;
    s.st.seams.laz_budget = laz_budget;
    s.st.seams.failing_start = failing_start;
    s.st.seams.failing_part = failing_chunk;
    s.put(name, bytes);
    Outcome o{s.run(answers), s.console(), {}};
    for (std::size_t at = 0; (at = o.console.find(name, at)) != std::string::npos; at += name.size())
        o.console.replace(at, name.size(), "p.las");
    for (const std::string& n : s.files_in_zone())
        if (n != name) o.outputs[n] = read_file(s.zone(n));
    return o;
}

}  // namespace

TEST(LazReader, ADemFromLazIsTheDemFromItsLasTwin)
{
    const std::string ascii = "dem\n0\n", raster = "dem\n1\n1\n2\n";
    const std::string small = read_file(carried / "point10_4x10.laz"), twin = twin_of_carried();
    for (const std::string& output : {ascii, raster}) {
        const std::string answers = gridding_answers({"p"}, "50", 0) + output;
        const Outcome las = run_on("p.las", twin, answers);
        EXPECT_EQ(las.status, 0) << las.console;
        for (int threads : {1, 2, 3}) EXPECT_EQ(run_on("p.laz", small, answers, threads), las) << threads;
        // The header decides, not the name; a .las goes before a .laz.
        EXPECT_EQ(run_on("p.las", small, answers, 2), las);
        Session both;
        both.put("p.las", twin);
        both.put("p.laz", "not read");
        EXPECT_EQ(both.run(answers), 0);
        // A thread that cannot start, a decoding that runs out of memory
        // (the reading thread decodes that chunk again): the same run.
        EXPECT_EQ(run_on("p.laz", small, answers, 3, 1), las);
        for (int chunk : {0, 2})
            EXPECT_EQ(run_on("p.laz", small, answers, 3, -1, chunk), las) << "failing chunk " << chunk;
        // A budget for the chunks in flight below two chunks (the caller
        // decodes alone), below three threads' pairs of them (two threads),
        // and between two and three chunks a thread (workers that wait for
        // pairs beside an odd number of slots).
        for (std::size_t budget : {1, 1200, 1500, 1800})
            EXPECT_EQ(run_on("p.laz", small, answers, 3, -1, -1, budget), las) << "budget " << budget;
    }

    if (const std::string why = missing_sample({laz_data / "point10.laz", laz_data / "autzen_f8.laz"}); !why.empty())
        GTEST_SKIP() << why;
    for (const char* name : {"point10", "point-time", "point-color", "point-time-color", "extra-bytes", "simple",
                             "autzen_f6", "autzen_f7", "autzen_f8"}) {
        const std::string answers = gridding_answers({"p"}, "100", 1) + raster;
        const Outcome las = run_on("p.las", read_file(laz_data / (std::string(name) + ".las")), answers);
        const std::string laz = read_file(laz_data / (std::string(name) + ".laz"));
        for (int threads : {1, 2, 3}) EXPECT_EQ(run_on("p.laz", laz, answers, threads), las) << name << threads;
    }
}

// The console's first reading takes a LAZ file's range from its header, and
// the second checks it: a header whose bounds are wrong (too wide, too
// narrow, on one axis, a grid far beyond its records, none at all) gives
// the run of its twin all the same, console and outputs.
TEST(LazReader, WrongHeaderBoundsGiveTheRunOfRightOnes)
{
    const std::string small = read_file(carried / "point10_4x10.laz");
    const std::string answers = gridding_answers({"p"}, "50", 0) + "dem\n1\n1\n2\n";
    const Outcome las = run_on("p.las", twin_of_carried(), answers);
    ASSERT_EQ(las.status, 0) << las.console;
    constexpr std::size_t max_x = 179, min_x = 187, max_y = 195, min_y = 203, min_z = 219;  // the header's doubles
    const double nan = std::numeric_limits<double>::quiet_NaN(), far = -2e7;  // far: still 32-bit integers
    const std::vector<std::vector<std::pair<std::size_t, double>>> wrong = {
        {{min_x, field<double>(small, min_x) - 100}},
        {{max_y, field<double>(small, max_y) - 2}},
        {{min_z, field<double>(small, min_z) + 20}},
        {{min_x, far}, {min_y, far}},
        {{max_x, nan}},
        {{max_x, field<double>(small, min_x) - 1}},
    };
    for (const auto& patches : wrong) {
        std::string bytes = small;
        for (const auto& [at, value] : patches) patch<double>(bytes, at, value);
        for (int threads : {1, 2}) EXPECT_EQ(run_on("p.laz", bytes, answers, threads), las) << patches[0].first;
    }
}

// Each refusal: status 1, the whole message, nothing written, alike on one
// thread and on three.
TEST(LazReader, FilesItCannotReadAreRefused)
{
    using Why = kestranov::RefusalReason;
    const std::string good = read_file(carried / "point10_4x10.laz");
    const std::size_t vlr = 227 + 54, points = 321, table = 793;
    ASSERT_EQ(field<std::uint32_t>(good, 96), points);
    ASSERT_EQ(field<std::int64_t>(good, points), table);
    const std::string file = "\n\n\tFile c:\\images\\zone1\\p.laz";
    const std::string recompress = ": recompress it with a current LASzip, for example with laszip or pdal translate\n";
    struct Case {
        std::function<void(std::string&)> change;
        std::string says;
        kestranov::Refusal why;  // none: a fault other than a refusal
    };
    const kestranov::LazItem point10{kestranov::LazItem::point10, 20, 2};
    std::vector<Case> cases = {
        {[](std::string& b) { patch<std::uint16_t>(b, 227 + 18, 22205); },
         file + ": its header says its points are compressed (LAZ), but it has no LASzip VLR (user id \"laszip "
                "encoded\", record 22204) to say how\n",
         {Why::no_laszip_vlr}},
        {[](std::string& b) { patch<std::uint16_t>(b, 227 + 20, 60); },
         file + ": its LASzip VLR of 60 bytes runs into its points\n",
         {Why::laszip_vlr_into_points, {60}}},
        {[](std::string& b) { patch<std::uint16_t>(b, 227 + 20, 20); },
         file + ": its LASzip VLR has 20 bytes, fewer than the 40 of one item\n",
         {Why::laszip_vlr_short, {20, 40}}},
        {[&](std::string& b) { patch<std::uint16_t>(b, vlr + 32, 2); },
         file + ": its LASzip VLR lists 2 items in 40 bytes, where 34 bytes and 6 per item are needed\n",
         {Why::laszip_vlr_item_count, {2, 40, 34}}},
        {[&](std::string& b) { patch<std::uint16_t>(b, vlr + 2, 1); },
         file + ": its LASzip VLR names coder 1, where 0 (arithmetic) is the only one\n",
         {Why::laszip_coder, {1}}},
        {[](std::string& b) { b[104] = static_cast<char>(0x84); },
         file + ": its LAZ point format 4 carries waveform packets, which this program does not decompress: "
                "decompress it to LAS first, for example with laszip or pdal translate\n",
         {Why::laz_waveforms, {4}}},
        {[&](std::string& b) { patch<std::uint16_t>(b, vlr, 0); },
         file + ": its LASzip VLR says the points are not compressed (compressor 0), yet the header says LAZ\n",
         {Why::laz_uncompressed}},
        {[&](std::string& b) { patch<std::uint16_t>(b, vlr, 1); },
         file +
             ": its points are compressed without chunks (LASzip compressor 1, from LASzip before 2.0), which "
             "this program does not read" +
             recompress,
         {Why::laz_pointwise}},
        {[&](std::string& b) { patch<std::uint16_t>(b, vlr, 3); },
         file + ": its LASzip VLR names compressor 3 for point format 0, where LASzip writes 2 (chunks)\n",
         {Why::laz_compressor_for_chunks, {3, 0}}},
        {[](std::string& b) { b[104] = static_cast<char>(0x86); },
         file + ": its LASzip VLR names compressor 2 for point format 6, where LASzip writes 3 (layered chunks)\n",
         {Why::laz_compressor_for_layers, {2, 6}}},
        {[&](std::string& b) { patch<std::uint32_t>(b, vlr + 12, 0); },
         file + ": its LASzip VLR gives chunks of 0 points\n",
         {Why::laz_chunks_of_none}},
        {[&](std::string& b) { patch<std::uint16_t>(b, vlr + 34 + 4, 1); },
         file +
             ": its points were compressed by LASzip 1 (POINT10 (20 bytes, version 1)), which this program does "
             "not read" +
             recompress,
         {Why::laz_items_of_laszip1, {}, {{kestranov::LazItem::point10, 20, 1}}}},
        {[&](std::string& b) { patch<std::uint16_t>(b, vlr + 34 + 4, 5); },
         file + ": its LASzip VLR lists POINT10 (20 bytes, version 5), a version this program does not read" +
             recompress,
         {Why::laz_item_version, {}, {{kestranov::LazItem::point10, 20, 5}}}},
        {[](std::string& b) { b[104] = static_cast<char>(0x81); },
         file + ": its LASzip VLR lists POINT10 (20 bytes, version 2), which is not what LASzip writes for point "
                "format 1\n",
         {Why::laz_items_unlike_format, {1}, {point10}}},
        {[&](std::string& b) { patch<std::uint16_t>(b, vlr + 34, 99); },
         file + ": its LASzip VLR lists item of type 99 (20 bytes, version 2), which is not what LASzip writes for "
                "point format 0\n",
         {Why::laz_items_unlike_format, {0}, {{99, 20, 2}}}},
        {[](std::string& b) { patch<std::uint16_t>(b, 105, 21); },
         file + ": its LASzip VLR's items (POINT10 (20 bytes, version 2)) add up to 20 bytes, where its point "
                "records have 21\n",
         {Why::laz_items_sum, {20, 21}, {point10}}},
        {[&](std::string& b) { patch<std::int64_t>(b, points, 1000000); },
         file + " ends after 808 bytes, before its LAZ chunk table at byte 1000000: none of its points can be found "
                "(the file was cut, for example by an interrupted copy, or the table's place is damaged)\n",
         {}},
        {[&](std::string& b) { patch<std::int64_t>(b, points, 0); },
         file + ": its LAZ chunk table pointer, 0, does not point after the points' start (the file has 808 "
                "bytes)\n",
         {Why::laz_table_pointer_early, {0, 808}}},
        {[&](std::string& b) { patch<std::int64_t>(b, points, -5); },
         file + ": its LAZ chunk table pointer, -5, does not point after the points' start (the file has 808 "
                "bytes)\n",
         {Why::laz_table_pointer_early, {static_cast<std::uint64_t>(-5), 808}}},
        {[&](std::string& b) { patch<std::uint32_t>(b, table + 4, 5); },
         file + ": its LAZ chunk table lists 5 chunks, where 40 points in chunks of 10 make 4\n",
         {Why::laz_table_count_fixed, {5, 40, 10, 4}}},
        {[&](std::string& b) { patch<std::uint32_t>(b, table + 4, 100); },
         file + ": its LAZ chunk table lists 100 chunks, where the 464 bytes before it hold at most 23 of 20-byte "
                "points\n",
         {Why::laz_table_count_room, {100, 464, 23, 20}}},
        {[&](std::string& b) { patch<std::uint32_t>(b, table, 1); },
         file + ": its LAZ chunk table has version 1, where 0 is the only one\n",
         {Why::laz_table_version, {1}}},
        // Chunks of any size: more of them than points.
        {[&](std::string& b) {
             patch<std::uint32_t>(b, vlr + 12, 0xFFFFFFFFu);
             patch<std::uint32_t>(b, 107, 3);
         },
         file + ": its LAZ chunk table lists 4 chunks for 3 points\n",
         {Why::laz_table_count_variable, {4, 3}}},
        // A million points in a chunk of 116 bytes.
        {[&](std::string& b) {
             patch<std::uint32_t>(b, vlr + 12, 1000000);
             patch<std::uint32_t>(b, 107, 4000000);
         },
         file + ": its LAZ chunk table gives chunk 1 1000000 points in 116 bytes, more than any LAZ writer puts "
                "there\n",
         {Why::laz_table_chunk_dense, {1, 1000000, 116}}},
        // Cut in the third chunk, the table lost with the rest; cut inside
        // the table; the table written again after the cut, its chunks
        // running beyond it.
        {[](std::string& b) { b.resize(600); },
         file + " ends after 600 bytes, before its LAZ chunk table at byte 793: none of its points can be found (the "
                "file was cut, for example by an interrupted copy, or the table's place is damaged)\n",
         {}},
        {[&](std::string& b) { b.resize(table + 10); },
         file + ": its LAZ chunk table, from byte 793, ends before its last entry: none of its points can be found "
                "(the file was cut, for example by an interrupted copy, or the table is damaged)\n",
         {}},
        // The table's place left to the file's last 8 bytes, and the file
        // cut: those bytes are points, not a pointer.
        {[&](std::string& b) {
             patch<std::int64_t>(b, points, -1);
             b.resize(700);
         },
         file +
             ": its LAZ chunk table pointer is -1, which leaves the table's place to the file's last 8 bytes, but "
             "they give " +
             std::to_string(field<std::int64_t>(good, 692)) +
             ", no place in its 700 bytes: none of its points can be found (the file was cut, for example by an "
             "interrupted copy, or is damaged)\n",
         {}},
        {[&](std::string& b) {
             b = b.substr(0, 600) + b.substr(table);
             patch<std::int64_t>(b, points, 600);
         },
         file + ": its LAZ chunk table gives its chunks 464 bytes, where 271 lie between its points' start and the "
                "table (the table is damaged)\n",
         {Why::laz_table_chunks_span, {464, 271}}},
        // A point count lowered by one: the last chunk's bytes outlast its
        // points, as whole records would follow a LAS file's.
        {[&](std::string& b) { patch<std::uint32_t>(b, 107, 39); },
         file + ": its LAZ chunk 4 of 4 (points 31 to 39) does not hold the points its header and chunk table give "
                "it: the header's point count or the chunk table disagrees with the file\n",
         {Why::laz_chunk_miscounted, {4, 4, 31, 39}}},
        // Lowered to leave the last chunk one point, or none at all.
        {[&](std::string& b) { patch<std::uint32_t>(b, 107, 31); },
         file + ": its LAZ chunk 4 of 4 (points 31 to 31) does not hold the points its header and chunk table give "
                "it: the header's point count or the chunk table disagrees with the file\n",
         {Why::laz_chunk_miscounted, {4, 4, 31, 31}}},
        {[&](std::string& b) { patch<std::uint32_t>(b, 107, 0); },
         file + ": its LAZ chunk table lists 4 chunks, where 0 points in chunks of 10 make 0\n",
         {Why::laz_table_count_fixed, {4, 0, 10, 0}}},
        // Chunks of 13 points (the last of 12) where each holds 10: every
        // chunk's data ends early, the first one is named.
        {[&](std::string& b) {
             patch<std::uint32_t>(b, vlr + 12, 13);
             patch<std::uint32_t>(b, 107, 51);
         },
         file + ": its LAZ chunk 1 of 4 (points 1 to 13) ends before its compressed points do (the chunk is "
                "damaged)\n",
         {Why::laz_chunk_ends_early, {1, 4, 1, 13}}},
    };
    // A layered chunk whose first layer is given a byte less than it has:
    // its layers no longer fill it.
    if (std::filesystem::exists(laz_data / "autzen_f6.laz"))
        cases.push_back({[](std::string& b) {
                             b = read_file(laz_data / "autzen_f6.laz");
                             const std::size_t sizes = field<std::uint32_t>(b, 96) + 8 + 30 + 4;
                             patch<std::uint32_t>(b, sizes, field<std::uint32_t>(b, sizes) - 1);
                         },
                         file + ": its LAZ chunk 1 of 3 (points 1 to 50000) is damaged: it holds a count or a size "
                                "that no LAZ writer makes\n",
                         {Why::laz_chunk_damaged, {1, 3, 1, 50000}}});
    for (const Case& c : cases) {
        std::string bytes = good;
        c.change(bytes);
        const auto e = read_error_of("p.laz", bytes);
        ASSERT_TRUE(e) << c.says;
        EXPECT_EQ(e->fault == kestranov::ReadFault::refused, static_cast<bool>(c.why)) << c.says;
        EXPECT_EQ(e->refusal, c.why) << c.says;
        for (int threads : {1, 3}) {
            Session s;
            s.st.reading.threads = threads;
            s.put("p.laz", bytes);
            EXPECT_EQ(s.run(gridding_answers({"p"}, "50", 0) + "dem\n0\n"), 1) << c.says;
            EXPECT_TRUE(s.console().ends_with(c.says)) << c.says << "\n" << s.console();
            EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{"p.laz"}) << c.says;
        }
    }
}

// A file rewritten in place between the readings, its date put back: what
// the first reading read without a fault and the second cannot is a change,
// not damage; a rewritten header is named as for LAS.
TEST(LazReader, AFileRewrittenBetweenTheReadingsIsAChangedFile)
{
    const std::string good = read_file(carried / "point10_4x10.laz");
    const std::size_t table = 793;
    const std::string changed = "\n\n\tFile c:\\images\\zone1\\p.laz changed during the run: ";
    struct Case {
        std::function<void(std::string&)> change;
        std::string says;  // "": read as before
    };
    const std::vector<Case> cases = {
        {[](std::string&) {}, ""},
        {[&](std::string& b) { patch<std::uint32_t>(b, table, 1); },
         changed + "it no longer reads as in the first reading, which found no fault in it\n"},
        {[&](std::string& b) { b[700] = static_cast<char>(b[700] ^ 0x40); },
         changed + "it no longer reads as in the first reading, which found no fault in it\n"},
        {[](std::string& b) { patch<std::uint32_t>(b, 107, 39); },
         changed + "its LAS header now gives the point count 39, where the first reading found 40\n"},
    };
    for (const Case& c : cases) {
        Session s;
        std::string bytes = good;
        c.change(bytes);
        EXPECT_EQ(s.read_rewritten("p.laz", good, bytes), c.says);
    }
}

namespace {

kestranov::PointFilter filter_of(std::initializer_list<int> classes, kestranov::PointFilter::Returns returns)
{
    kestranov::PointFilter f;
    f.by_class = classes.size() > 0;
    for (int c : classes) f.classes.set(static_cast<std::size_t>(c));
    f.returns = returns;
    return f;
}

// A reading of `bytes` as the point file `name` with `filter`.
Session::Reading read_filtered(const std::string& name, const std::string& bytes, const kestranov::PointFilter& filter,
                               int threads = 1, bool extents_only = false)
{
    Session s;
    s.st.reading.filter = filter;
    s.st.reading.threads = threads;
    kestranov::SeenFile seen;
    return s.read_points(name, bytes, seen, extents_only);
}

}  // namespace

// A filter keeps from a LAZ file the points it keeps from the LAS twin, with
// the same tally, on any thread count and in the extent pass (never the
// corners of every point); the layered formats decode their classification
// layer for it.
TEST(LazReader, AFilterKeepsFromLazWhatItKeepsFromItsLasTwin)
{
    using Returns = kestranov::PointFilter::Returns;
    const std::string small = read_file(carried / "point10_4x10.laz"), twin = twin_of_carried();
    const kestranov::PointFilter filters[] = {filter_of({2}, Returns::any), filter_of({}, Returns::first),
                                              filter_of({}, Returns::last), filter_of({}, Returns::only),
                                              filter_of({1}, Returns::last)};
    const FlaggedCarried flagged = flagged_carried();
    const std::pair<std::string, std::string> pairs[] = {{small, twin}, {flagged.laz, flagged.las}};
    for (const auto& [laz, twin_las] : pairs)
        for (std::size_t k = 0; k < std::size(filters); ++k) {
            const Session::Reading las = read_filtered("p.las", twin_las, filters[k]);
            EXPECT_EQ(las.error, "");
            for (int threads : {1, 3})
                for (bool extents_only : {false, true})
                    EXPECT_EQ(read_filtered("p.laz", laz, filters[k], threads, extents_only), las)
                        << "filter " << k << ", " << threads << " threads" << (extents_only ? ", extents" : "")
                        << (&laz == &pairs[1].first ? ", flagged" : "");
        }
    // The ground filter drops points and keeps points; the flags above the
    // classification change no point's class.
    const kestranov::FilterTally ground = read_filtered("p.laz", small, filters[0]).tally;
    EXPECT_GT(ground.kept, 0);
    EXPECT_LT(ground.kept, 40);
    for (const kestranov::PointFilter& f : {filter_of({1}, Returns::any), filters[0]})
        EXPECT_EQ(read_filtered("p.laz", flagged.laz, f).tally, read_filtered("p.laz", small, f).tally);

    if (const std::string why = missing_sample({laz_data / "point10.laz", laz_data / "autzen_f8.laz"}); !why.empty())
        GTEST_SKIP() << why;
    for (const char* name : {"point10", "point-time", "point-color", "point-time-color", "extra-bytes", "simple",
                             "autzen_f6", "autzen_f7", "autzen_f8"}) {
        const std::string las = read_file(laz_data / (std::string(name) + ".las"));
        const std::string laz = read_file(laz_data / (std::string(name) + ".laz"));
        for (const kestranov::PointFilter& f : {filter_of({2}, Returns::any), filter_of({1}, Returns::only)})
            EXPECT_EQ(read_filtered("p.laz", laz, f, 2), read_filtered("p.las", las, f)) << name;
    }
}

// The CRS of a LAZ file comes from its first reading as for LAS, from
// projection records before the LASzip VLR (still found after them); the
// points read as without them.
TEST(LazReader, TheCrsIsTakenFromTheProjectionRecords)
{
    const std::string small = read_file(carried / "point10_4x10.laz");
    const std::string wkt = "GEOGCS[\"WGS 84\"]", keys = bytes({1, 0, 1, 0, 0, 0, 0, 0});
    const std::string with =
        with_las_records(small, {{"LASF_Projection", 34735, keys}, {"LASF_Projection", 2112, wkt + '\0'}});
    Session s;
    kestranov::SeenFile seen;
    EXPECT_EQ(s.read_points("p.laz", with, seen), read_filtered("p.laz", small, {}));
    EXPECT_EQ(s.read_points(seen).error, "");
    EXPECT_EQ(seen.first.crs.wkt, wkt);
    EXPECT_EQ(std::string(seen.first.crs.geokeys.begin(), seen.first.crs.geokeys.end()), keys);
}
