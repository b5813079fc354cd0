// LAS point files: a DEM from a LAS file is the DEM from the same points as
// a LAS-to-text converter prints them, and every header that no LAS file can
// have is refused naming the file. The real files live outside the
// repository: these tests skip when they are absent.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "points/las_axis.h"
#include "points/point_reader.h"
#include "support.h"
#include "synthetic_las.h"

namespace {

const std::filesystem::path las_data = std::filesystem::path(KESTRANOV_SHARED_DATA) / "las";

using Axes = std::array<double, 3>;

// The offset in units of 10^-k as printf shows it with k decimals.
long long printed_units(double offset, int k)
{
    char number[400];
    std::snprintf(number, sizeof number, "%.*f", k, offset);
    std::string digits = number;
    if (k > 0) digits.erase(digits.size() - static_cast<std::size_t>(k) - 1, 1);
    return std::stoll(digits);
}

// The point's decimal i x 10^-k + offset with k decimals, the offset as
// printed, added in integers: exact also where the sum goes beyond the
// integers a double holds.
std::string decimal_text(std::int32_t i, double offset, int k)
{
    long long p = 1;
    for (int d = 0; d < k; ++d) p *= 10;
    const long long m = i + printed_units(offset, k);
    const unsigned long long a = m < 0 ? -static_cast<unsigned long long>(m) : static_cast<unsigned long long>(m);
    std::string number = (m < 0 ? "-" : "") + std::to_string(a / p);
    if (k == 0) return number;
    const std::string fraction = std::to_string(a % p);
    return number + "." + std::string(static_cast<std::size_t>(k) - fraction.size(), '0') + fraction;
}

// The points as a converter writes them: with k decimals where the scale is
// 10^-k, else double(i) * scale + offset with 17 digits.
std::string converted(const std::string& las)
{
    const auto offset = field<std::uint32_t>(las, 96);
    const auto length = field<std::uint16_t>(las, 105);
    const bool wide = las[24] == 1 && las[25] >= 4;
    const std::uint64_t count = wide ? field<std::uint64_t>(las, 247) : field<std::uint32_t>(las, 107);
    std::string text;
    char number[64];
    for (std::uint64_t p = 0; p < count; ++p)
        for (int a = 0; a < 3; ++a) {
            const double scale = field<double>(las, 131 + 8 * a);
            const auto i = field<std::int32_t>(las, offset + p * length + 4 * a);
            int k = 0;
            while (k < 16 && scale != 1.0 / std::pow(10.0, k)) ++k;
            if (k < 16) {
                text += decimal_text(i, field<double>(las, 155 + 8 * a), k);
            } else {
                std::snprintf(number, sizeof number, "%.17g", i * scale + field<double>(las, 155 + 8 * a));
                text += number;
            }
            text += a == 2 ? "\n" : " ";
        }
    return text;
}

struct Outcome {
    int status;
    std::string console;
    std::map<std::string, std::string> outputs;
    bool operator==(const Outcome&) const = default;
};

// A run on point files given as (name with extension, bytes); the console
// with every ".las" shown as ".xyz", so that runs on both kinds compare.
Outcome run_on(const std::vector<std::pair<std::string, std::string>>& files, const std::string& answers)
{
    Session s;
    for (const auto& [name, bytes] : files) s.put(name, bytes);
    Outcome o{s.run(answers), s.console(), {}};
    for (std::size_t at; (at = o.console.find(".las")) != std::string::npos;) o.console.replace(at, 4, ".xyz");
    for (const std::string& name : s.files_in_zone())
        if (!name.ends_with(".xyz") && !name.ends_with(".las")) o.outputs[name] = read_file(s.zone(name));
    return o;
}

}  // namespace

TEST(LasReader, ADemFromLasIsTheDemFromItsText)
{
    const std::string ascii = "dem\n0\n", raster = "dem\n1\n1\n2\n";
    // Files made here, so that a clone without the samples reads LAS too:
    // 1.2 with projected offsets and bytes short of a record after the
    // points, 1.4 with extra bytes, a 64-bit count alone and extended
    // records after the points, 1.3 with waveform data after them, 1.0 with
    // a scale that is no power of ten.
    std::string waveforms = synthetic_las(3, 4, 57, 3000, {0.01, 0.01, 0.01}, {0, 0, 0});
    patch<std::uint64_t>(waveforms, 227, waveforms.size());
    waveforms += std::string(3 * 57, 'W');
    const std::string made[] = {
        synthetic_las(2, 1, 28, 6000, {0.01, 0.01, 0.01}, {500000, 4000000, 0}) + std::string(27, 'P'),
        synthetic_las(4, 6, 35, 5000, {0.001, 0.001, 0.001}, {0, 0, -10}) + std::string(3 * 35, 'E'), waveforms,
        synthetic_las(0, 0, 20, 7000, {0.0025, 0.0025, 0.0025}, {1000, 2000, 30})};
    for (const std::string& las : made) {
        const std::string answers = gridding_answers({"p"}, "2", las[25] % 2) + (las[25] == 4 ? raster : ascii);
        const Outcome from_text = run_on({{"p.xyz", converted(las)}}, answers);
        EXPECT_EQ(from_text.status, 0) << from_text.console;
        EXPECT_EQ(run_on({{"p.las", las}}, answers), from_text) << "LAS 1." << int{las[25]};
    }

    if (const std::string why =
            missing_sample({las_data / "autzen_trim.las", las_data.parent_path() / "pdal_autzen_trim_ft.xyz"});
        !why.empty())
        GTEST_SKIP() << why;
    struct Case {
        const char* file;
        const char* cell;
        std::string output;
    };
    const Case cases[] = {
        {"autzen_trim.las", "100", raster}, {"autzen_trim.las", "150", ascii}, {"test1_4.las", "2", ascii},
        {"extrabytes.las", "200", raster},  {"v1.0_0.las", "1", ascii},        {"v1.1_1.las", "1", raster},
        {"v1.2_2.las", "1", ascii},         {"v1.2_3.las", "1", ascii},        {"no-points.las", "1", ascii}};
    for (const Case& c : cases) {
        const std::string las = read_file(las_data / c.file);
        const std::string answers = gridding_answers({"p"}, c.cell, 0) + c.output;
        const Outcome from_text = run_on({{"p.xyz", converted(las)}}, answers);
        EXPECT_EQ(run_on({{"p.las", las}}, answers), from_text) << c.file;
        EXPECT_EQ(from_text.status, std::string(c.file) == "no-points.las" ? 1 : 0) << c.file << from_text.console;
    }
    // Offsets of nearly 2^53 hundredths: X sums beyond the integers of a
    // double, Z sums just short of them; each value still the decimal
    // correctly rounded.
    std::string far = read_file(las_data / "extrabytes.las");
    patch(far, 155, std::floor(9007199254740992.0 / 100) - 100000);
    patch(far, 171, std::ceil((9007199254740992.0 - 4294967296.0) / 100));
    const std::string answers_far = gridding_answers({"p"}, "200", 0) + ascii;
    const Outcome far_text = run_on({{"p.xyz", converted(far)}}, answers_far);
    EXPECT_EQ(far_text.status, 0) << far_text.console;
    EXPECT_EQ(run_on({{"p.las", far}}, answers_far), far_text);

    // The sample text written from the same file with two decimals; one LAS
    // and one text file in a run form one cloud; an .xyz goes before a .las.
    const std::string autzen = read_file(las_data / "autzen_trim.las");
    const std::string text = read_file(las_data.parent_path() / "pdal_autzen_trim_ft.xyz");
    const std::string answers = gridding_answers({"p"}, "100", 1) + raster;
    const Outcome from_text = run_on({{"p.xyz", text}}, answers);
    EXPECT_EQ(from_text.status, 0);
    EXPECT_EQ(run_on({{"p.las", autzen}}, answers), from_text);
    EXPECT_EQ(run_on({{"p.xyz", text}, {"p.las", "not read"}}, answers), from_text);
    const std::string two = gridding_answers({"a", "b"}, "100", 1) + raster;
    EXPECT_EQ(run_on({{"a.las", autzen}, {"b.xyz", text}}, two), run_on({{"a.xyz", text}, {"b.xyz", text}}, two));
}

// Each refusal: status 1, the message naming the file, nothing written.
TEST(LasReader, HeadersNoLasFileHasAreRefused)
{
    // A sample when there is one, else a file of one point made here. As in
    // the sample, a VLR lies between the header and the point: a header
    // size above 227 bytes still fits in the file, and only the offset to
    // the points can be found below it.
    const LasRecord vlr{"kestranov", 1, std::string(100, '\0')};
    const bool samples = std::filesystem::exists(las_data / "v1.2_3.las");
    const std::string good = samples
                                 ? read_file(las_data / "v1.2_3.las")
                                 : with_las_records(synthetic_las(2, 3, 34, 1, {0.01, 0.01, 0.01}, {0, 0, 0}), {vlr});
    ASSERT_GT(field<std::uint32_t>(good, 96), 300u) << "the header size of 300 below must fit before the points";
    const auto offset = field<std::uint32_t>(good, 96);
    using Why = kestranov::RefusalReason;
    const std::uint64_t size = good.size();
    struct Refused {
        Why reason;
        std::array<std::uint64_t, 4> facts;
    };
    struct Case {
        std::function<void(std::string&)> change;
        std::string says;
        Refused why{Why::none, {}};  // none: a fault other than a refusal
        std::string name = "p.las";
    };
    const std::string path = "File c:\\images\\zone1\\p.las";
    const std::vector<Case> cases = {
        {[](std::string& b) { b.resize(100); },
         path + ": too short for a LAS file: 100 bytes",
         {Why::too_short_for_las, {100, 227}}},
        {[](std::string& b) { b[3] = 'X'; },
         path + ": not a LAS file: it does not begin with \"LASF\"",
         {Why::not_las, {}}},
        {[](std::string& b) { patch<std::uint16_t>(b, 94, 200); },
         "its LAS header size of 200 bytes is impossible",
         {Why::las_header_size, {200, size}}},
        {[](std::string& b) { patch<std::uint16_t>(b, 94, 60000); },
         "header size of 60000 bytes is impossible",
         {Why::las_header_size, {60000, size}}},
        {[](std::string& b) { patch<std::uint32_t>(b, 96, 1u << 30); },
         "its offset to the LAS points, 1073741824, lies beyond the end of the file",
         {Why::las_points_beyond_end, {1u << 30, size}}},
        {[](std::string& b) { patch<std::uint32_t>(b, 96, 100); },
         path + ": its offset to the LAS points, 100, is below its header size of 227 bytes\n",
         {Why::las_points_below_header, {100, 227}}},
        {[](std::string& b) { patch<std::uint16_t>(b, 94, 300), patch<std::uint32_t>(b, 96, 227); },
         "its offset to the LAS points, 227, is below its header size of 300 bytes",
         {Why::las_points_below_header, {227, 300}}},
        {[](std::string& b) { b[24] = 0, b[25] = 9; },
         path + ": its LAS version 0.9 is none of 1.0 to 1.4\n",
         {Why::las_version, {0, 9}}},
        {[](std::string& b) { b[25] = 5; }, "its LAS version 1.5 is none of 1.0 to 1.4", {Why::las_version, {1, 5}}},
        {[](std::string& b) { b[24] = 2, b[25] = 0; },
         "its LAS version 2.0 is none of 1.0 to 1.4",
         {Why::las_version, {2, 0}}},
        // Nothing may follow the points of LAS 1.0 to 1.2, nor of 1.3 without waveform data.
        {[](std::string& b) { b += b.substr(b.size() - field<std::uint16_t>(b, 105)); },
         path + ": its LAS header disagrees with the file, which holds 1 whole records after its announced 1 points\n"},
        {[](std::string& b) { patch<std::uint32_t>(b, 107, 0); }, "holds 1 whole records after its announced 0 points"},
        {[](std::string& b) { b[25] = 0, b += std::string(3 * field<std::uint16_t>(b, 105) + 5, '\0'); },
         "holds 3 whole records after its announced 1 points"},
        {[](std::string& b) { b[25] = 3, b += std::string(field<std::uint16_t>(b, 105), '\0'); },
         "holds 1 whole records after its announced 1 points"},
        {[](std::string& b) { b[104] = 11; },
         "its LAS point data format 11 is none of 0 to 10",
         {Why::las_point_format, {11}}},
        // The compression bits make the file LAZ, which says how in a VLR.
        {[](std::string& b) { b[104] = static_cast<char>(0x83); },
         path + ": its header says its points are compressed",
         {Why::no_laszip_vlr, {}}},
        {[](std::string& b) { b[104] = 0x43; },
         "but it has no LASzip VLR (user id \"laszip encoded\", record 22204)",
         {Why::no_laszip_vlr, {}}},
        {[](std::string& b) { patch<std::uint16_t>(b, 105, 11); },
         "records of 11 bytes are shorter than the 12 bytes",
         {Why::las_records_below_xyz, {11}}},
        {[](std::string& b) { patch<double>(b, 131, 0.0); },
         "its LAS scale factor for X is 0",
         {Why::las_scale_zero, {0}}},
        {[](std::string& b) { patch<double>(b, 139, INFINITY); },
         "scale factor for Y is not a finite number",
         {Why::las_scale_not_finite, {1}}},
        {[](std::string& b) { patch<double>(b, 171, NAN); },
         "its LAS offset for Z is not a finite number",
         {Why::las_offset_not_finite, {2}}},
        {[](std::string& b) { patch<double>(b, 131, 1e305); },
         path + ", point 1: its scaled coordinates are beyond the range of a double"},
        {[](std::string& b) { patch<std::uint32_t>(b, 107, 3); },
         path + " ends after 1 points, where its LAS header announces 3: point 2 is missing"},
        {[&](std::string& b) { b.resize(offset + 20); }, " ends after 0 points, where its LAS header announces 1"},
        {[](std::string& b) { b.resize(150); },
         "File c:\\images\\zone1\\p.laz: too short for a LAS file",
         {Why::too_short_for_las, {150, 227}},
         "p.laz"},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        c.change(bytes);
        const auto e = read_error_of(c.name, bytes);
        ASSERT_TRUE(e) << c.says;
        EXPECT_EQ(e->fault == kestranov::ReadFault::refused, c.why.reason != Why::none) << c.says;
        EXPECT_EQ(e->refusal.reason, c.why.reason) << c.says;
        EXPECT_EQ(e->refusal.facts, c.why.facts) << c.says;
        Session s;
        s.put(c.name, bytes);
        EXPECT_EQ(s.run(gridding_answers({"p"}, "1", 0) + "dem\n0\n"), 1) << c.says;
        EXPECT_NE(s.console().find(c.says), std::string::npos) << c.says << "\n" << s.console();
        EXPECT_EQ(s.files_in_zone(), std::vector<std::string>{c.name}) << c.says;
    }
}

// The decimal rule against the text path: the offset as a converter prints
// it with k decimals, the integer added in decimal, the sum read by strtod.
// Offsets of 10^15 units and more have a fraction of a unit, and their
// product by 10^k rounded to a double missed the printed units by one: the
// value then fell back to double(i) * scale + offset, a DEM unlike the
// text's. Up to 2^53 units the rule holds; from there on the fallback.
TEST(LasReader, TheDecimalRuleHoldsUpTo2To53UnitsOfOffset)
{
    const unsigned seed = std::random_device{}();
    std::mt19937_64 rng(seed);
    const long long top = 1LL << 53;
    const std::int32_t extremes[] = {INT32_MIN, INT32_MAX, 0, -1, 1};
    // The offset written as `units` x 10^-k, against its text; returns
    // whether the offset's printed units stay below 2^53.
    auto check = [&](long long units, int k) {
        const std::string written = std::to_string(units) + "e-" + std::to_string(k);
        const double offset = std::strtod(written.c_str(), nullptr);
        const double scale = std::strtod(("1e-" + std::to_string(k)).c_str(), nullptr);
        const long long printed = printed_units(offset, k);
        const bool decimal = printed > -top && printed < top;
        const kestranov::LasAxis axis(scale, offset);
        for (int n = 0; n < 8; ++n) {
            const std::int32_t i = n < 5 ? extremes[n] : static_cast<std::int32_t>(rng());
            const std::string text = decimal_text(i, offset, k);
            const double want = decimal ? std::strtod(text.c_str(), nullptr) : static_cast<double>(i) * scale + offset;
            const double got = axis.value(i);
            EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0)
                << "seed " << seed << ": offset " << written << " (" << printed << "), i " << i << ": " << got
                << " for " << text;
            if (axis.quick()) {
                EXPECT_EQ(axis.quick_value(i), got) << "seed " << seed << " " << text;
            }
        }
        return decimal;
    };
    for (int round = 0; round < sweep(2000); ++round) {
        const long long from = round % 4 ? 1000000000000000LL : 0;
        const long long units = from + static_cast<long long>(rng() % static_cast<unsigned long long>(top - from));
        check(round % 2 ? -units : units, static_cast<int>(rng() % 16));
    }
    // The edge, 2^53 - 1 and 2^53 hundredths: each prints as written.
    for (long long sign : {1, -1}) {
        EXPECT_TRUE(check(sign * (top - 1), 2));
        EXPECT_FALSE(check(sign * top, 2));
    }
}

// A header rewritten in place between the two readings, its date put back
// (a rewrite within one tick of the file system's clock): another record
// length, offset or count read as a cut file or as other points, another
// scale or offset as other coordinates than the extents were made of.
TEST(LasReader, AHeaderRewrittenBetweenTheReadingsIsAChangedFile)
{
    const std::string las = synthetic_las(2, 1, 28, 50, {0.01, 0.01, 0.01}, {500000, 4000000, 0});
    struct Case {
        std::function<void(std::string&)> change;
        std::string says;  // "": read as before
    };
    const std::vector<Case> cases = {
        {[](std::string&) {}, ""},
        {[](std::string& b) { b[180] = 7; }, ""},  // the header's bounds, which are not read
        {[](std::string& b) { patch<std::uint16_t>(b, 105, 20); },
         "record length 20, where the first reading found 28"},
        {[](std::string& b) { patch<std::uint32_t>(b, 96, 255); },
         "offset to the points 255, where the first reading found 227"},
        {[](std::string& b) { patch<std::uint32_t>(b, 107, 40); }, "point count 40, where the first reading found 50"},
        {[](std::string& b) { b[104] = 0; }, "point data format 0, where the first reading found 1"},
        {[](std::string& b) { patch<double>(b, 147, 0.001); },
         "Z scale factor 0.001, where the first reading found 0.01"},
        {[](std::string& b) { patch<double>(b, 163, 4000000.5); },
         "Y offset 4000000.5, where the first reading found 4000000"},
    };
    for (const Case& c : cases) {
        Session s;
        std::string bytes = las;
        c.change(bytes);
        EXPECT_EQ(s.read_rewritten("p.las", las, bytes),
                  c.says.empty() ? ""
                                 : "\n\n\tFile c:\\images\\zone1\\p.las changed during the run: its "
                                   "LAS header now gives the " +
                                       c.says + "\n");
    }
}

namespace {

// A record's classification, return number and number of returns. Record r
// of attributed_las holds kind r % 8: single returns, the two of a pulse, a
// return number of 0, one above the number of returns, an intermediate
// return, a number of returns of 0; format 6's kind 6 what only its wider
// fields hold.
struct Kind {
    int classification, ret, nret;
};
constexpr Kind kinds_f1[8] = {{2, 1, 1}, {5, 1, 2}, {2, 2, 2}, {6, 1, 1}, {2, 0, 1}, {2, 3, 2}, {1, 2, 3}, {5, 1, 0}};
constexpr Kind kinds_f6[8] = {{2, 1, 1}, {5, 1, 2}, {2, 2, 2}, {6, 1, 1}, {2, 0, 1}, {2, 3, 2}, {33, 9, 12}, {5, 1, 0}};

// Records of point format 1 (LAS 1.2) or 6 (LAS 1.4) of those kinds, every
// flag bit beside the fields set: format 1's scan direction and edge above
// the returns, its synthetic, key-point and withheld bits above the class;
// format 6's byte 15 (class flags, channel, scan direction, edge).
std::string attributed_las(int format, int points)
{
    const bool wide = format >= 6;
    const std::size_t header = wide ? 375 : 227, length = wide ? 30 : 28;
    std::string b =
        synthetic_las(wide ? 4 : 2, format, static_cast<std::uint16_t>(length), points, {0.01, 0.01, 0.01}, {0, 0, 0});
    const Kind* kinds = wide ? kinds_f6 : kinds_f1;
    for (std::size_t r = 0; r < static_cast<std::size_t>(points); ++r) {
        const Kind k = kinds[r % 8];
        const std::size_t at = header + r * length;
        b[at + 14] = static_cast<char>(wide ? k.ret | k.nret << 4 : k.ret | k.nret << 3 | 0xC0);
        b[at + 15] = static_cast<char>(wide ? 0xFF : k.classification | 0xE0);
        if (wide) b[at + 16] = static_cast<char>(k.classification);
    }
    return b;
}

kestranov::PointFilter filter_of(const std::vector<int>& classes, kestranov::PointFilter::Returns returns)
{
    kestranov::PointFilter f;
    f.by_class = !classes.empty();
    for (int c : classes) f.classes.set(static_cast<std::size_t>(c));
    f.returns = returns;
    return f;
}

}  // namespace

// Each filter on records of every kind in point formats 1 and 6, read as
// the grid pass and as the extent pass (which must then get the kept points,
// never the corners of all of them): the points of the kinds kept, in file
// order, every record counted, each test tallied. 9000 records cross the
// batches and the LAS blocks. Text, and records too short for the fields a
// filter reads, are refused with one.
TEST(LasReader, AFilterKeepsTheRecordsOfTheClassesAndReturnsItAsks)
{
    using Returns = kestranov::PointFilter::Returns;
    using Kinds = std::set<int>;
    const Kinds all = {0, 1, 2, 3, 4, 5, 6, 7};
    struct Case {
        std::vector<int> classes;
        Returns returns;
        Kinds class_f1, class_f6, by_returns, kept_f1, kept_f6;
    };
    const Case cases[] = {
        {{2}, Returns::any, {0, 2, 4, 5}, {0, 2, 4, 5}, all, {0, 2, 4, 5}, {0, 2, 4, 5}},
        {{5, 6}, Returns::any, {1, 3, 7}, {1, 3, 7}, all, {1, 3, 7}, {1, 3, 7}},
        {{}, Returns::first, all, all, {0, 1, 3}, {0, 1, 3}, {0, 1, 3}},
        {{}, Returns::last, all, all, {0, 2, 3}, {0, 2, 3}, {0, 2, 3}},
        {{}, Returns::only, all, all, {0, 3}, {0, 3}, {0, 3}},
        {{2}, Returns::last, {0, 2, 4, 5}, {0, 2, 4, 5}, {0, 2, 3}, {0, 2}, {0, 2}},
        {{5}, Returns::first, {1, 7}, {1, 7}, {0, 1, 3}, {1}, {1}},
        // Format 1 keeps the low 5 bits of 33 (1), format 6 the whole byte.
        {{1}, Returns::any, {6}, {}, all, {6}, {}},
        {{33}, Returns::only, {}, {6}, {0, 3}, {}, {}},
    };
    const int records = 9000, per_kind = records / 8;
    for (int format : {1, 6}) {
        const std::string las = attributed_las(format, records);
        Session plain;
        kestranov::SeenFile unfiltered;
        const Session::Reading every = plain.read_points("p.las", las, unfiltered);
        EXPECT_EQ(every.tally, (kestranov::FilterTally{records, records, records}));
        for (const Case& c : cases) {
            const bool f1 = format == 1;
            Session::Reading want{{}, records, "", {}};
            want.tally = {per_kind * static_cast<long long>((f1 ? c.class_f1 : c.class_f6).size()),
                          per_kind * static_cast<long long>(c.by_returns.size()),
                          per_kind * static_cast<long long>((f1 ? c.kept_f1 : c.kept_f6).size())};
            for (int r = 0; r < records; ++r)
                if ((f1 ? c.kept_f1 : c.kept_f6).count(r % 8)) want.points.push_back(every.points[std::size_t(r)]);
            for (bool extents_only : {false, true}) {
                Session s;
                s.st.reading.filter = filter_of(c.classes, c.returns);
                kestranov::SeenFile seen;
                EXPECT_EQ(s.read_points("p.las", las, seen, extents_only), want)
                    << "format " << format << ", classes " << c.classes.size() << ", returns "
                    << static_cast<int>(c.returns) << (extents_only ? ", extents" : "");
            }
        }
    }

    const std::string file = "\n\n\tFile c:\\images\\zone1\\p.";
    const std::string short_records =
        " bytes that hold their classification and returns, by which its points are filtered\n";
    const std::tuple<std::string, std::string, kestranov::RefusalReason> refused[] = {
        {"1 2 3\n",
         file + "xyz: a text point file holds no classifications nor returns, so it cannot be filtered by them\n",
         kestranov::RefusalReason::text_unfiltered},
        {synthetic_las(2, 1, 15, 10, {0.01, 0.01, 0.01}, {0, 0, 0}),
         file + "las: its LAS point records of 15 bytes are shorter than the 16" + short_records,
         {}},
        {synthetic_las(4, 6, 16, 10, {0.01, 0.01, 0.01}, {0, 0, 0}),
         file + "las: its LAS point records of 16 bytes are shorter than the 17" + short_records,
         {}},
    };
    for (const auto& [bytes, says, why] : refused) {
        Session s;
        const std::string name = bytes.starts_with("LASF") ? "p.las" : "p.xyz";
        kestranov::SeenFile seen;
        EXPECT_EQ(s.read_points(name, bytes, seen).error, "") << "without a filter";
        s.st.reading.filter = filter_of({}, Returns::first);
        EXPECT_EQ(s.read_points(seen = {}).error, says);
        const auto e = read_error_of(name, bytes, s.st.reading);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->refusal, kestranov::Refusal{why});
    }
}

// The coordinate reference system comes from the LASF_Projection records,
// VLRs or (LAS 1.4) EVLRs, as bytes, on the first reading; records of other
// user ids, and records that run past the file or lie beyond it, are not
// taken and stop nothing: the points read as without them. The header's
// bounds come as written.
TEST(LasReader, TheCrsIsTakenFromTheProjectionRecordsOfTheFirstReading)
{
    const std::string wkt = "PROJCS[\"test\",GEOGCS[\"NAD83\"],UNIT[\"metre\",1]]";
    const std::string keys = bytes({1, 0, 1, 0, 0, 0, 1, 0, 0x01, 0x04, 0, 0, 1, 0, 1, 0});
    const LasRecord decoy{"liblas", 2112, "PROJCS[\"not this one\"]"};
    const LasRecord key_vlr{"LASF_Projection", 34735, keys}, ascii_vlr{"LASF_Projection", 34737, "NAD83|"};
    const LasRecord wkt_record{"LASF_Projection", 2112, wkt + std::string(2, '\0')};
    std::string las14 = synthetic_las(4, 6, 30, 50, {0.01, 0.01, 0.01}, {0, 0, 0});
    const double bounds[6] = {60.5, 0.25, 40.5, -0.75, 50.125, -10.0};  // max X, min X, max Y, ...
    for (std::size_t k = 0; k < 6; ++k) patch(las14, 179 + 8 * k, bounds[k]);
    const std::string las12 = synthetic_las(2, 1, 28, 50, {0.01, 0.01, 0.01}, {0, 0, 0});
    std::string wkt_past_end = with_las_records(las14, {}, {wkt_record});
    patch<std::uint64_t>(wkt_past_end, wkt_past_end.size() - wkt_record.payload.size() - 40, 1000);
    std::string evlrs_beyond = with_las_records(las14, {key_vlr}, {wkt_record});
    patch<std::uint64_t>(evlrs_beyond, 235, evlrs_beyond.size() + 1);
    std::string overcounted = with_las_records(las12, {key_vlr, ascii_vlr});
    patch<std::uint32_t>(overcounted, 100, 7);
    struct Case {
        std::string name, bytes, wkt, keys, ascii;
    };
    const Case cases[] = {
        {"1.4, VLRs and a WKT EVLR", with_las_records(las14, {decoy, key_vlr, ascii_vlr}, {wkt_record}), wkt, keys,
         "NAD83|"},
        {"1.2, a WKT VLR after a decoy", with_las_records(las12, {decoy, wkt_record}), wkt, "", ""},
        {"an EVLR running past the file", wkt_past_end, "", "", ""},
        {"EVLRs placed beyond the file", evlrs_beyond, "", keys, ""},
        {"more VLRs counted than held", overcounted, "", keys, "NAD83|"},
    };
    Session bare;
    kestranov::SeenFile bare12, bare14;
    const auto points12 = bare.read_points("p.las", las12, bare12).points;
    const auto points14 = bare.read_points("q.las", las14, bare14).points;
    EXPECT_TRUE(bare12.first.crs.empty());
    for (const Case& c : cases) {
        Session s;
        kestranov::SeenFile seen;
        for (int reading = 1; reading <= 2; ++reading) {
            const Session::Reading got = reading == 1 ? s.read_points("p.las", c.bytes, seen) : s.read_points(seen);
            EXPECT_EQ(got.error, "") << c.name;
            EXPECT_TRUE(got.points == (c.bytes[25] == 4 ? points14 : points12)) << c.name;
            const kestranov::LasCrs& crs = seen.first.crs;
            EXPECT_EQ(crs.wkt, c.wkt) << c.name << ", reading " << reading;
            EXPECT_EQ(std::string(crs.geokeys.begin(), crs.geokeys.end()), c.keys) << c.name;
            EXPECT_EQ(std::string(crs.geoascii.begin(), crs.geoascii.end()), c.ascii) << c.name;
            EXPECT_TRUE(crs.geodoubles.empty()) << c.name;
        }
    }
    for (std::size_t a = 0; a < 3; ++a) {
        EXPECT_EQ(bare14.first.las->max[a], bounds[2 * a]);
        EXPECT_EQ(bare14.first.las->min[a], bounds[2 * a + 1]);
    }

    if (const std::string why = missing_sample({las_data / "test1_4.las", las_data / "autzen_trim.las"}); !why.empty())
        GTEST_SKIP() << why;
    // A WKT VLR of LAS 1.4 (and a copy under liblas's user id) without its
    // closing NUL; the GeoTIFF records of a LAS 1.2 file, whose key
    // directory starts with version 1 and, 8 bytes on, the model type key.
    Session s;
    kestranov::SeenFile nm, autzen;
    ASSERT_EQ(s.read_points("p.las", read_file(las_data / "test1_4.las"), nm).error, "");
    EXPECT_TRUE(nm.first.crs.wkt.starts_with("PROJCS[\"NAD83(HARN) / New Mexico Central (ftUS)\",GEOGCS["));
    EXPECT_TRUE(nm.first.crs.wkt.ends_with("]]")) << nm.first.crs.wkt;
    EXPECT_EQ(nm.first.crs.wkt.size(), 910u);
    ASSERT_EQ(s.read_points("q.las", read_file(las_data / "autzen_trim.las"), autzen).error, "");
    const kestranov::LasCrs& crs = autzen.first.crs;
    const std::string directory(crs.geokeys.begin(), crs.geokeys.end());
    EXPECT_EQ(directory.size(), 184u);
    EXPECT_EQ(field<std::uint16_t>(directory, 0), 1);
    EXPECT_EQ(field<std::uint16_t>(directory, 8), 1024);
    EXPECT_EQ(crs.geodoubles.size(), 72u);
    EXPECT_TRUE(std::string(crs.geoascii.begin(), crs.geoascii.end()).starts_with("NAD_1983_HARN_Lambert_Conformal"));
    EXPECT_TRUE(crs.wkt.starts_with("PROJCS[\"NAD_1983_HARN_Lambert_Conformal_Conic\",GEOGCS[")) << crs.wkt;
}
