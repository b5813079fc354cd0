#include "gridder/grid_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <functional>

#include "core/shortest_text.h"
#include "export/band_cells.h"
#include "grid/lattice.h"

namespace kestranov::gridder {
namespace {

bool ends_with_any_case(const std::string& name, const std::string& tail)
{
    if (name.size() < tail.size()) return false;
    for (std::size_t k = 0; k < tail.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - tail.size() + k])) != tail[k]) return false;
    return true;
}

double number(const std::string& option, const std::string& text)
{
    double v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    // + 0.0 makes -0 a 0: a corner or nodata typed as -0 would otherwise be
    // written "-0" in the grid's header, the summary and the plan.
    if (ec == std::errc() && p == end && std::isfinite(v)) return v + 0.0;
    // A decimal comma is what a French or German locale writes: say so
    // rather than leave the user to guess what is not a number.
    if (text.find(',') != std::string::npos)
        throw UsageError(option + ": '" + text +
                         "' holds a comma: write numbers with a decimal point (2.5, not 2,5) and no thousands "
                         "separator");
    throw UsageError(option + ": '" + text + "' is not a finite number");
}

long whole(const std::string& option, const std::string& text, long low, long high)
{
    long v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || p != end || v < low || v > high)
        throw UsageError(option + ": '" + text + "' is not a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high));
    return v;
}

// N/M, the tile of a plan's jobs.
GridOptions::Job job(const std::string& text)
{
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) throw UsageError("--job: '" + text + "' is not N/M (tile N of M)");
    GridOptions::Job j;
    j.of = whole("--job", text.substr(slash + 1), 1, 1L << 40);
    j.number = whole("--job", text.substr(0, slash), 1, j.of);
    return j;
}

// SIZE:NS,... as a plan writes --stamps.
std::vector<GridOptions::FileStamp> stamps(const std::string& text)
{
    std::vector<GridOptions::FileStamp> list;
    std::size_t from = 0;
    do {
        std::size_t comma = text.find(',', from);
        if (comma == std::string::npos) comma = text.size();
        const std::string one = text.substr(from, comma - from);
        const std::size_t colon = one.find(':');
        GridOptions::FileStamp s;
        const char* end = one.data() + one.size();
        const auto size = std::from_chars(one.data(), one.data() + std::min(colon, one.size()), s.size);
        const auto time = std::from_chars(size.ptr + 1, end, s.mtime_ns);
        if (colon == std::string::npos || size.ec != std::errc() || size.ptr != one.data() + colon ||
            time.ec != std::errc() || time.ptr != end)
            throw UsageError("--stamps: '" + one + "' is not SIZE:NANOSECONDS");
        list.push_back(s);
        from = comma + 1;
    } while (from <= text.size());
    return list;
}

// One of `names`, for an option that takes a word.
std::size_t word(const std::string& option, const std::string& text, const std::vector<std::string>& names)
{
    for (std::size_t k = 0; k < names.size(); ++k)
        if (text == names[k]) return k;
    std::string known;
    for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
    throw UsageError(option + ": '" + text + "' is none of " + known);
}

// --output-type: names from statistic_names, each once, and tin, whose
// place among them `tin` takes.
std::vector<Statistic> statistics(const std::string& text, std::optional<std::size_t>& tin)
{
    std::vector<Statistic> list;
    std::size_t from = 0;
    do {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string one = text.substr(from, comma - from);
        from = comma + 1;
        const auto k =
            std::find_if(statistic_names.begin(), statistic_names.end(), [&](const char* name) { return one == name; });
        const bool twice = one == "tin"
                               ? tin.has_value()
                               : k != statistic_names.end() &&
                                     std::find(list.begin(), list.end(),
                                               static_cast<Statistic>(k - statistic_names.begin())) != list.end();
        if (twice) throw UsageError("--output-type: " + one + " is named twice in '" + text + "'");
        if (one == "tin") {
            tin = list.size();
            continue;
        }
        if (k == statistic_names.end())
            throw UsageError("--output-type: '" + one + "' is none of min, max, mean, count, stdev, tin");
        list.push_back(static_cast<Statistic>(k - statistic_names.begin()));
    } while (from <= text.size());
    return list;
}

// --max-edge needs a TIN and a length. A tile's TIN takes the points of a
// buffer of cells around it, so that its triangles near the edges are the
// uncut grid's: by default the cells --max-edge spans and 2 more (a
// triangle longer than that is nodata anyway), or 64.
void check_tin(GridOptions& o)
{
    if (o.max_edge && !o.tin_band) throw UsageError("--max-edge applies to --output-type tin only");
    if (o.max_edge && !(*o.max_edge > 0))
        throw UsageError("--max-edge: " + shortest(*o.max_edge) + " is not a positive length");
    const bool tiled = o.tile_size || o.window;
    if (o.buffer && (!o.tin_band || !tiled))
        throw UsageError("--buffer applies to --output-type tin in tiles only (--tile-size, or --window)");
    if (o.tin_band && tiled && !o.buffer)
        o.buffer = o.max_edge ? static_cast<std::int64_t>(
                                    std::min(std::ceil(*o.max_edge / o.cell), static_cast<double>(lattice_max_side))) +
                                    2
                              : 64;
}

void classes(const std::string& text, PointFilter& filter)
{
    filter.by_class = true;
    std::size_t from = 0;
    do {
        const std::size_t comma = text.find(',', from);
        const std::string one = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        filter.classes.set(static_cast<std::size_t>(whole("--class", one, 0, 255)));
        from = comma == std::string::npos ? text.size() + 1 : comma + 1;
    } while (from <= text.size());
}

// The options that change the lattice's model, which the console's has no room for.
constexpr const char* lattice_only[] = {"--bounds", "--class", "--return",      "--fill",    "--gaps",
                                        "--nodata", "--type",  "--output-type", "--max-edge"};

// --tile-size: the output is a folder, for the plan's files and the tiles.
void check_plan(const GridOptions& o, const std::vector<std::string>& given)
{
    for (const char* option : {"--like-console", "--window"})
        if (std::find(given.begin(), given.end(), option) != given.end())
            throw UsageError(std::string(option) + " cannot be used with --tile-size, which plans tiles");
    const std::int64_t cells = whole_cells_in(*o.tile_size, o.cell);
    if (cells < 1)
        throw UsageError("--tile-size: " + shortest(*o.tile_size) + " is not a whole number of cells of " +
                         shortest(o.cell));
    if (o.output.empty()) throw UsageError("-o FOLDER is required with --tile-size (where the plan and tiles go)");
    // With --bounds the plan's size is known now, before any reading.
    if (const auto& b = o.bounds) {
        const LatticeResult l = lattice_from_bounds((*b)[0], (*b)[1], (*b)[2], (*b)[3], o.cell);
        if (l.error.empty())
            refuse_too_many_tiles(o, (l.lattice.cols + cells - 1) / cells, (l.lattice.rows + cells - 1) / cells);
    }
}

// --mosaic: a plan's folder, nothing else to read or write.
void check_mosaic(const GridOptions& o, const std::vector<std::string>& given)
{
    for (const std::string& g : given)
        if (g != "--mosaic" && g != "-q" && g != "--quiet")
            throw UsageError(g + " cannot be used with --mosaic, which checks and sums a plan's tiles");
    if (!o.inputs.empty()) throw UsageError("--mosaic FOLDER takes no point file");
}

void check(GridOptions& o, const std::vector<std::string>& given)
{
    if (o.help || o.version) return;
    if (o.mosaic) return check_mosaic(o, given);
    if (std::find(given.begin(), given.end(), "--cell") == given.end())
        throw UsageError("--cell SIZE is required (the cell size, in the data's horizontal units)");
    if (const std::string why = cell_size_error(o.cell); !why.empty()) throw UsageError("--cell: " + why);
    // With --bounds and no file the grid is all nodata: a tile of a plan
    // that no file reaches.
    if (o.inputs.empty() && (!o.bounds || o.tile_size)) throw UsageError("no point file or folder given");
    if (o.tile_size) {
        check_plan(o, given);
        o.kind = OutputKind::geotiff;
    }
    if (o.force && !o.tile_size)
        throw UsageError("--force applies to --tile-size only (a plan of more than " + std::to_string(max_plan_tiles) +
                         " tiles)");
    if (o.window && !o.bounds) throw UsageError("--window needs --bounds, the lattice it is a window of");
    if (o.job && !o.window) throw UsageError("--job needs --window: it is a tile of a plan (--tile-size writes them)");
    if ((o.plan || !o.stamps.empty()) && !o.job)
        throw UsageError(std::string(o.plan ? "--plan" : "--stamps") +
                         " needs --job: the plan writes them in jobs.txt");
    if (!o.stamps.empty() && o.stamps.size() != o.inputs.size())
        throw UsageError("--stamps: " + std::to_string(o.stamps.size()) + " stamps for " +
                         std::to_string(o.inputs.size()) + " files");
    if (o.overwrite && !o.tile_size) throw UsageError("--overwrite applies to --tile-size only (a plan's folder)");
    if (o.output.empty()) throw UsageError("-o OUTPUT is required (a .tif or .asc file)");
    if (o.tile_size || ends_with_any_case(o.output, ".tif") || ends_with_any_case(o.output, ".tiff"))
        o.kind = OutputKind::geotiff;
    else if (ends_with_any_case(o.output, ".asc"))
        o.kind = OutputKind::ascii_grid;
    else
        throw UsageError("-o " + o.output + ": the output must end in .tif or .asc");
    if (o.float64 && o.kind != OutputKind::geotiff) throw UsageError("--type applies to a .tif output only");
    if (const std::size_t bands = o.statistics.size() + (o.tin_band ? 1 : 0);
        o.kind == OutputKind::ascii_grid && bands > 1)
        throw UsageError("-o " + o.output + ": an ASCII grid holds one statistic, and --output-type names " +
                         std::to_string(bands) + " (" + band_list(o) + "): write them to a .tif, one band each");
    check_tin(o);
    // Known before a point is read, and before a plan hands it to every tile.
    if (o.kind == OutputKind::geotiff && !o.float64 && !exporter::fits_float32(o.nodata))
        throw UsageError("--nodata: " + shortest(o.nodata) +
                         " does not fit a Float32 GeoTIFF (--type float64 takes it)");
    if (o.like_console)
        for (const char* option : lattice_only)
            for (const std::string& g : given)
                if (g == option)
                    throw UsageError(std::string(option) +
                                     " cannot be used with --like-console, which makes the console's grid");
    // The whole lattice is checked now, before a file is read.
    if (o.bounds) {
        const auto& b = *o.bounds;
        const LatticeResult l = lattice_from_bounds(b[0], b[1], b[2], b[3], o.cell);
        if (!l.error.empty()) throw UsageError(l.error);
        if (o.window) {
            const auto& w = *o.window;
            if (const LatticeResult t = lattice_window(l.lattice, w[0], w[1], w[2], w[3]); !t.error.empty())
                throw UsageError(t.error);
        }
    }
}

// The options given twice: the second value would silently replace the
// first, so both are refused, as GDAL's tools do. --class adds its classes
// up; a flag (-q, --force...) given twice says nothing new.
void refuse_repeats(const std::vector<std::string>& given)
{
    const auto same = [](const std::string& a) -> std::string {
        if (a == "--output") return "-o";
        if (a == "--quiet") return "-q";
        return a;
    };
    constexpr const char* repeatable[] = {"--class", "-q",          "--like-console", "--skip-unreadable",
                                          "--force", "--overwrite", "--version"};
    for (std::size_t k = 0; k < given.size(); ++k) {
        const std::string name = same(given[k]);
        if (std::find(std::begin(repeatable), std::end(repeatable), name) != std::end(repeatable)) continue;
        for (std::size_t j = 0; j < k; ++j)
            if (same(given[j]) == name)
                throw UsageError(name + " given twice" +
                                 (given[j] == given[k] ? "" : " (as " + given[j] + " and " + given[k] + ")") +
                                 ": give it once");
    }
}

}  // namespace

std::vector<Statistic> statistics_of(const GridOptions& o)
{
    if (!o.statistics.empty()) return o.statistics;
    return {o.keep == Keep::highest ? Statistic::max : Statistic::min};
}

std::vector<std::string> band_names(const GridOptions& o)
{
    std::vector<std::string> names;
    for (const Statistic s : o.statistics) names.emplace_back(name_of(s));
    if (o.tin_band) names.insert(names.begin() + static_cast<std::ptrdiff_t>(*o.tin_band), "tin");
    return names;
}

std::string band_list(const GridOptions& o)
{
    std::string list;
    for (const std::string& n : band_names(o)) list += (list.empty() ? "" : ",") + n;
    return list;
}

std::string statistic_list(const std::vector<Statistic>& statistics)
{
    std::string list;
    for (const Statistic s : statistics) {
        if (!list.empty()) list += ',';
        list += name_of(s);
    }
    return list;
}

void refuse_too_many_tiles(const GridOptions& o, std::int64_t cols, std::int64_t rows)
{
    // Each side may be up to a lattice's 2^40: the product in a double.
    const double tiles = static_cast<double>(cols) * static_cast<double>(rows);
    if (o.force || tiles <= static_cast<double>(max_plan_tiles)) return;
    const std::string count = tiles < 9e18 ? std::to_string(cols * rows) : shortest(tiles);
    throw UsageError("--tile-size " + shortest(*o.tile_size) + " makes " + count + " tiles (" + std::to_string(cols) +
                     " x " + std::to_string(rows) + "), more than " + std::to_string(max_plan_tiles) +
                     ": give --force to plan them all");
}

GridOptions parse_grid_arguments(const std::vector<std::string>& args)
{
    GridOptions o;
    // --help wins over anything else on the line, as in GNU tools.
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a == "-h" || a == "--help") {
            o.help = true;
            return o;
        }
    }
    std::vector<std::string> given;
    models::ArgumentScanner s(args);
    while (s.next()) {
        if (!s.is_option()) {
            o.inputs.push_back(s.word());
            continue;
        }
        const std::string& a = s.name();
        given.push_back(a);
        const auto value = [&] { return s.value(); };
        if (a == "--cell")
            o.cell = number(a, value());
        else if (a == "-o" || a == "--output")
            o.output = value();
        else if (a == "--keep")
            o.keep = word(a, value(), {"highest", "lowest"}) == 0 ? Keep::highest : Keep::lowest;
        else if (a == "--output-type")
            o.statistics = statistics(value(), o.tin_band);
        else if (a == "--max-edge")
            o.max_edge = number(a, value());
        else if (a == "--buffer")
            o.buffer = whole(a, value(), 0, 1L << 20);
        else if (a == "--class")
            classes(value(), o.filter);
        else if (a == "--return")
            o.filter.returns = static_cast<PointFilter::Returns>(word(a, value(), {"any", "first", "last", "only"}));
        else if (a == "--bounds") {
            if (s.attached()) throw UsageError("--bounds takes four values: --bounds XMIN YMIN XMAX YMAX");
            std::array<double, 4> b{};
            for (double& v : b) {
                const std::optional<std::string> w = s.following();
                if (!w) throw UsageError("--bounds takes four values: XMIN YMIN XMAX YMAX");
                v = number(a, *w);
            }
            o.bounds = b;
        } else if (a == "--window") {
            if (s.attached()) throw UsageError("--window takes four values: --window COL ROW COLS ROWS");
            std::array<std::int64_t, 4> w{};
            for (std::int64_t& v : w) {
                const std::optional<std::string> t = s.following();
                if (!t) throw UsageError("--window takes four values: COL ROW COLS ROWS");
                v = whole(a, *t, 0, lattice_max_side);
            }
            o.window = w;
        } else if (a == "--tile-size")
            o.tile_size = number(a, value());
        else if (a == "--job")
            o.job = job(value());
        else if (a == "--mosaic")
            o.mosaic = value();
        else if (a == "--plan")
            o.plan = value();
        else if (a == "--stamps")
            o.stamps = stamps(value());
        else if (a == "--overwrite")
            o.overwrite = true;
        else if (a == "--fill")
            o.fill = word(a, value(), {"once", "none"}) == 0;
        else if (a == "--gaps")
            o.gaps_fail = word(a, value(), {"nodata", "fail"}) == 1;
        else if (a == "--nodata")
            o.nodata = number(a, value());
        else if (a == "--srs")
            o.srs = value();
        else if (a == "--threads")
            o.threads = static_cast<int>(whole(a, value(), 1, 64));
        else if (a == "--type")
            o.float64 = word(a, value(), {"float32", "float64"}) == 1;
        else if (a == "-q" || a == "--quiet")
            o.quiet = true;
        else if (a == "--like-console")
            o.like_console = true;
        else if (a == "--skip-unreadable")
            o.skip_unreadable = true;
        else if (a == "--force")
            o.force = true;
        else if (a == "-h" || a == "--help")
            o.help = true;
        else if (a == "--version")
            o.version = true;
        else
            throw UsageError("unknown option " + a);
        if (s.attached()) throw UsageError(a + " takes no value");
    }
    refuse_repeats(given);
    check(o, given);
    return o;
}

std::string grid_usage()
{
    return "usage: kestranov-grid --cell SIZE [options] INPUT... -o OUTPUT\n"
           "       kestranov-grid --cell SIZE --tile-size T [options] INPUT... -o FOLDER\n"
           "       kestranov-grid --mosaic FOLDER   (a plan's last step: checks every tile, sums the plan)\n"
           "  INPUT              point files (.xyz, .las, .laz, any case) or folders (their point\n"
           "                     files, by name); with --bounds none: an all-nodata grid\n"
           "  -o OUTPUT          .tif (Cloud Optimized GeoTIFF) or .asc (ESRI ASCII grid, .prj beside)\n"
           "  --cell SIZE        cell size, in the data's horizontal units (required)\n"
           "  --keep highest|lowest      the point a cell keeps (default highest): the default of\n"
           "                     --output-type, max or min\n"
           "  --output-type LIST statistics, one band each in the order given: min, max, mean,\n"
           "                     count, stdev, and tin (the points' triangulation read at the\n"
           "                     cell centres), e.g. mean,count (a .tif for more than one)\n"
           "  --max-edge L       with tin: a cell whose triangle has an edge longer than L is nodata\n"
           "  --buffer B         with tin in tiles: the points of B cells around a tile too (default\n"
           "                     the cells --max-edge spans and 2, or 64)\n"
           "  --class LIST       only these LAS classifications, e.g. 2 or 2,9 (given twice: both)\n"
           "  --return first|last|only|any   only these returns (default any)\n"
           "  --bounds XMIN YMIN XMAX YMAX   the grid's extent (default: the points', snapped\n"
           "                     outward to multiples of SIZE)\n"
           "  --window COL ROW COLS ROWS   with --bounds: only these cells of its lattice (row 0\n"
           "                     the north), decided on the whole lattice, as one tile of it\n"
           "  --tile-size T      no grid: plan tiles of T (a whole number of cells) into FOLDER:\n"
           "                     jobs.txt (one command a tile), slurm.sbatch, mosaic.vrt\n"
           "  --force            with --tile-size: plan more than 100000 tiles\n"
           "  --overwrite        with --tile-size: replace the folder's plan, its tiles removed\n"
           "  --job N/M          (in jobs.txt) tile N of the plan's M: one line, and a record for --mosaic\n"
           "  --plan ID, --stamps SIZE:NS,...   (in jobs.txt) the plan, and its files as it saw them\n"
           "  --fill once|none   fill an empty cell from its 8 neighbours once (default once)\n"
           "  --gaps nodata|fail cells still empty: nodata (default), or fail\n"
           "  --nodata VALUE     the nodata value (default -9999)\n"
           "  --srs TEXT         coordinate system (EPSG:2994, WKT, PROJ...), over the files' own\n"
           "  --type float32|float64     the GeoTIFF's cell type (default float32)\n"
           "  --threads N        threads reading each file (default: every core)\n"
           "  --like-console     the console program's grid, cell for cell (with .asc: its file)\n"
           "  --skip-unreadable  leave out a folder's point files that cannot be read (each told)\n"
           "  -q, --quiet        no progress, no summary\n"
           "  --help, --version\n";
}

}  // namespace kestranov::gridder
