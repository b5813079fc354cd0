// make_cloud: writes a deterministic synthetic airborne LIDAR point cloud as
// "X Y Z" text records (metres, two decimals, LF), for demos, tests and
// benchmarks of the gridding program. Options give X and Y a third decimal and
// stretch the elevations over a wide range, so that a benchmark can also feed
// the reader records whose width changes from one line to the next.
//
// Records are produced one at a time from their index (see cloud_model.h),
// so even the shuffled order needs no point storage and memory stays flat
// (a few chunk buffers) whatever the point count.

#include "cloud_model.h"
#include "core/version.h"
#include "models/argument_scanner.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

namespace {

constexpr const char* usage_text =
    "usage: make_cloud OUT.xyz --points N [--seed S] [--size METRES]\n"
    "                  [--order scan|random] [--x0 X] [--y0 Y]\n"
    "                  [--xy-decimals 2|3] [--z-range LO HI] [--las [--survey]]\n"
    "       make_cloud --help | --version\n"
    "\n"
    "Writes N records \"X Y Z\" (metres, two decimals, LF) covering the square\n"
    "[x0, x0+size] x [y0, y0+size]: rolling ground, flat-roofed buildings and\n"
    "stands of trees with both canopy and ground returns.\n"
    "  --points N     number of records, at least 4 (required)\n"
    "  --seed S       layout and jitter seed (default 1)\n"
    "  --size METRES  side of the square, up to 10000 (default 300)\n"
    "  --order scan   flight-line order, rows along X advancing in Y (default)\n"
    "  --order random the same records in a seed-dependent shuffled order\n"
    "  --x0 X --y0 Y  south-west corner (default 480000 2150000)\n"
    "  --xy-decimals 3  X and Y to the millimetre (a sub-centimetre offset per\n"
    "                 record; the corners stay exact); default 2\n"
    "  --z-range LO HI  stretch the elevations monotonically over [LO, HI]\n"
    "                 metres, an equal share of the records for each integer\n"
    "                 width (and the minus sign) the range spans\n"
    "  --las          write the same points as LAS 1.2 (point format 1, scale\n"
    "                 0.01, offset 0) instead of text\n"
    "  --survey       with --las: give each record the classification and\n"
    "                 returns of a survey: 2 ground, 5 tree canopy, 6 roofs;\n"
    "                 a canopy hit and the ground return after it in its\n"
    "                 flight line are returns 1 and 2 of 2, every other\n"
    "                 record 1 of 1\n"
    "OUT.xyz may be '-' for standard output.\n";

struct Options {
    std::string out;
    std::uint64_t points = 0;
    bool have_points = false;
    std::uint64_t seed = 1;
    double size = 300.0;
    bool random_order = false;
    bool las = false;
    bool survey = false;
    double x0 = 480000.0;
    double y0 = 2150000.0;
    int xy_decimals = 2;
    bool z_range = false;
    double z_lo = 0, z_hi = 0;
};

using kestranov::models::UsageError;

std::uint64_t parse_count(std::string_view name, std::string_view text)
{
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty())
        throw UsageError{std::string(name) + " expects a non-negative integer, got '" + std::string(text) + "'"};
    return value;
}

double parse_real(std::string_view name, std::string_view text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty() || !std::isfinite(value))
        throw UsageError{std::string(name) + " expects a number, got '" + std::string(text) + "'"};
    return value;
}

Options parse(int argc, char** argv)
{
    Options opt;
    bool have_out = false;
    // Every --name takes the word after it, "--" and --name=value included.
    kestranov::models::ArgumentScanner s(
        {argv + 1, argv + argc},
        {.double_dash_ends_options = false, .attached_values = false, .long_options_only = true});
    while (s.next()) {
        const std::string& arg = s.word();
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage_text, stdout);
            std::exit(0);  // NOLINT(concurrency-mt-unsafe): the options are read before any thread starts
        }
        if (arg == "--version") {
            std::printf("make_cloud %s\n", kestranov::project_version);
            std::exit(0);  // NOLINT(concurrency-mt-unsafe): as for --help
        }
        if (arg == "--las") {
            opt.las = true;
            continue;
        }
        if (arg == "--survey") {
            opt.survey = true;
            continue;
        }
        if (s.is_option()) {
            const std::string value = s.value();
            if (arg == "--points") {
                opt.points = parse_count(arg, value);
                opt.have_points = true;
            } else if (arg == "--seed") {
                opt.seed = parse_count(arg, value);
            } else if (arg == "--size") {
                opt.size = parse_real(arg, value);
            } else if (arg == "--order") {
                if (value == "scan")
                    opt.random_order = false;
                else if (value == "random")
                    opt.random_order = true;
                else
                    throw UsageError{"--order must be scan or random, got '" + value + "'"};
            } else if (arg == "--x0") {
                opt.x0 = parse_real(arg, value);
            } else if (arg == "--y0") {
                opt.y0 = parse_real(arg, value);
            } else if (arg == "--xy-decimals") {
                if (value != "2" && value != "3") throw UsageError{"--xy-decimals must be 2 or 3, got '" + value + "'"};
                opt.xy_decimals = value[0] - '0';
            } else if (arg == "--z-range") {
                const std::optional<std::string> high = s.following();
                if (!high) throw UsageError{"--z-range needs two values"};
                opt.z_lo = parse_real(arg, value);
                opt.z_hi = parse_real(arg, *high);
                opt.z_range = true;
            } else {
                throw UsageError{"unknown option " + arg};
            }
        } else {
            if (have_out) throw UsageError{"more than one output file given"};
            opt.out = arg;
            have_out = true;
        }
    }
    if (!have_out) throw UsageError{"no output file given"};
    if (!opt.have_points) throw UsageError{"--points is required"};
    if (opt.points < 4) throw UsageError{"--points must be at least 4 (one per corner)"};
    if (opt.points > cloudgen::Sampler::max_points) throw UsageError{"--points is too large"};
    // Whole centimetres keep the requested square exactly representable. The
    // scene keeps a land-use cell per ~50 m, so very large squares are refused
    // rather than allowed to eat the memory.
    if (!(opt.size >= 0.01) || opt.size > 10000.0) throw UsageError{"--size must be between 0.01 and 10000 metres"};
    if (std::fabs(opt.x0) > 1.0e12 || std::fabs(opt.y0) > 1.0e12) throw UsageError{"--x0/--y0 out of range"};
    // The bounds keep a stretched elevation inside the LAS header's Z bounds.
    if (opt.z_range && !(opt.z_lo < opt.z_hi && opt.z_lo >= -1000.0 && opt.z_hi <= 10000.0))
        throw UsageError{"--z-range needs LO < HI within -1000 and 10000 metres"};
    // LAS records hold centimetres (scale 0.01).
    if (opt.las && opt.xy_decimals != 2) throw UsageError{"--xy-decimals 3 cannot be written as LAS"};
    if (opt.survey && !opt.las) throw UsageError{"--survey needs --las: text records hold no classes nor returns"};
    return opt;
}

// Records are formatted in chunks by worker threads, a few chunks ahead of
// the main thread, which writes them out strictly in order. Each record
// depends only on its index, so the bytes do not depend on the thread count.
constexpr std::uint64_t chunk_records = std::uint64_t{1} << 18;
constexpr std::size_t max_record_chars = 3 * 24 + 3;

// What a chunk needs besides its range of records.
struct Layout {
    const cloudgen::Sampler& sampler;
    const cloudgen::Permutation* shuffle;   // null in scan order
    const cloudgen::ElevationMap* stretch;  // null for the scene's own elevations
    std::int64_t x0_cm, y0_cm;
    bool millimetres;  // X and Y with three decimals
    bool survey;       // LAS records with classes and returns
};

std::string format_chunk(const Layout& at, std::uint64_t begin, std::uint64_t end)
{
    std::string text(static_cast<std::size_t>(end - begin) * max_record_chars, '\0');
    char* p = text.data();
    for (std::uint64_t k = begin; k < end; ++k) {
        const std::uint64_t index = at.shuffle ? (*at.shuffle)(k) : k;
        const cloudgen::Record r = at.sampler.record(index);
        if (at.millimetres) {
            const auto [x_mm, y_mm] = at.sampler.position_mm(index, r);
            p = cloudgen::format_mm(p, at.x0_cm * 10 + x_mm);
            *p++ = ' ';
            p = cloudgen::format_mm(p, at.y0_cm * 10 + y_mm);
        } else {
            p = cloudgen::format_cm(p, at.x0_cm + r.x_cm);
            *p++ = ' ';
            p = cloudgen::format_cm(p, at.y0_cm + r.y_cm);
        }
        *p++ = ' ';
        p = cloudgen::format_cm(p, at.stretch ? (*at.stretch)(r.z_cm) : r.z_cm);
        *p++ = '\n';
    }
    text.resize(static_cast<std::size_t>(p - text.data()));
    return text;
}

// LAS 1.2, point format 1: 28-byte records whose X, Y and Z are the
// centimetre integers themselves (scale 0.01, offset 0).
constexpr std::size_t las_header = 227, las_record = 28;

std::string las_chunk(const Layout& at, std::uint64_t begin, std::uint64_t end)
{
    std::string bytes(static_cast<std::size_t>(end - begin) * las_record, '\0');
    char* p = bytes.data();
    for (std::uint64_t k = begin; k < end; ++k, p += las_record) {
        const std::uint64_t index = at.shuffle ? (*at.shuffle)(k) : k;
        const cloudgen::Record r = at.sampler.record(index);
        const std::int64_t z_cm = at.stretch ? (*at.stretch)(r.z_cm) : r.z_cm;
        const std::int32_t xyz[3] = {static_cast<std::int32_t>(at.x0_cm + r.x_cm),
                                     static_cast<std::int32_t>(at.y0_cm + r.y_cm), static_cast<std::int32_t>(z_cm)};
        std::memcpy(p, xyz, sizeof xyz);  // little-endian on every host this runs on
        if (at.survey) {
            // Byte 14: the return number in bits 0-2, the number of returns
            // in bits 3-5; byte 15: the classification.
            const cloudgen::SurveyAttributes a = at.sampler.survey(index, r);
            p[14] = static_cast<char>(a.return_number | a.number_of_returns << 3);
            p[15] = static_cast<char>(a.classification);
        }
    }
    return bytes;
}

std::string las_header_block(std::uint64_t points, double x0, double y0, double size)
{
    std::string h(las_header, '\0');
    auto put = [&h](std::size_t at, const auto& v) { std::memcpy(h.data() + at, &v, sizeof v); };
    std::memcpy(h.data(), "LASF", 4);
    h[24] = 1, h[25] = 2;
    std::memcpy(h.data() + 26, "make_cloud", 10);
    put(94, static_cast<std::uint16_t>(las_header));
    put(96, static_cast<std::uint32_t>(las_header));
    h[104] = 1;
    put(105, static_cast<std::uint16_t>(las_record));
    put(107, static_cast<std::uint32_t>(points));
    for (int a = 0; a < 3; ++a) put(131 + 8 * a, 0.01);
    const double bounds[6] = {x0 + size, x0, y0 + size, y0, 10000.0, -1000.0};  // max X, min X, max Y, ...
    for (int k = 0; k < 6; ++k) put(179 + 8 * k, bounds[k]);
    return h;
}

int run(const Options& opt)
{
    const std::int64_t size_cm = std::llround(opt.size * 100.0);
    const std::int64_t x0_cm = std::llround(opt.x0 * 100.0);
    const std::int64_t y0_cm = std::llround(opt.y0 * 100.0);

    const cloudgen::Scene scene(opt.seed, static_cast<double>(size_cm) / 100.0);
    const cloudgen::Sampler sampler(scene, opt.seed, opt.points);
    const cloudgen::Permutation shuffle(opt.seed, opt.points);
    std::optional<cloudgen::ElevationMap> stretch;
    if (opt.z_range) stretch.emplace(sampler, opt.z_lo, opt.z_hi);
    const Layout layout{sampler,
                        opt.random_order ? &shuffle : nullptr,
                        stretch ? &*stretch : nullptr,
                        x0_cm,
                        y0_cm,
                        opt.xy_decimals == 3,
                        opt.survey};

    const bool to_stdout = opt.out == "-";
    std::FILE* file = to_stdout ? stdout : std::fopen(opt.out.c_str(), "wb");
    if (file == nullptr) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the output is opened before any thread starts
        std::fprintf(stderr, "make_cloud: cannot open %s for writing: %s\n", opt.out.c_str(), std::strerror(errno));
        return 1;
    }

    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
    std::deque<std::future<std::string>> pending;
    std::uint64_t next = 0;
    auto launch = [&] {
        const std::uint64_t end = std::min(opt.points, next + chunk_records);
        pending.push_back(
            std::async(std::launch::async, opt.las ? las_chunk : format_chunk, std::cref(layout), next, end));
        next = end;
    };
    bool ok = true;
    if (opt.las) {
        if (opt.points > UINT32_MAX) throw UsageError{"--las holds at most 4294967295 points"};
        const std::string header = las_header_block(opt.points, opt.x0, opt.y0, opt.size);
        ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    }
    while (next < opt.points && pending.size() < workers + 1) launch();
    while (!pending.empty()) {
        const std::string text = pending.front().get();
        pending.pop_front();
        if (next < opt.points) launch();
        if (ok && std::fwrite(text.data(), 1, text.size(), file) != text.size()) ok = false;
        // After a write error, only drain what is already running.
        if (!ok) next = opt.points;
    }
    ok = (to_stdout ? std::fflush(file) == 0 : std::fclose(file) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "make_cloud: error writing %s\n", opt.out.c_str());
        return 1;
    }
    if (!to_stdout) {
        const auto trees = std::count_if(scene.trees().begin(), scene.trees().end(),
                                         [](const cloudgen::Tree& t) { return t.present; });
        std::fprintf(stderr, "make_cloud: wrote %llu points (%s order, %zu buildings, %lld trees) to %s\n",
                     static_cast<unsigned long long>(opt.points), opt.random_order ? "random" : "scan",
                     scene.buildings().size(), static_cast<long long>(trees), opt.out.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(parse(argc, argv));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "make_cloud: %s\n\n%s", e.what(), usage_text);
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_cloud: %s\n", e.what());
        return 1;
    }
}
