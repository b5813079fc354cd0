#include "models/raw_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string_view>

#include "core/model_files.h"
#include "models/model_error.h"

namespace kestranov::models {
namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool ends_with_ci(const std::string& s, std::string_view tail)
{
    return s.size() >= tail.size() && lower(s.substr(s.size() - tail.size())) == tail;
}

std::string_view trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<std::int64_t> parse_int(std::string_view s)
{
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    std::int64_t out = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return out;
}

std::optional<double> parse_real(std::string_view s)
{
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double out = 0.0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || !std::isfinite(out)) return std::nullopt;
    return out;
}

// Picks whichever case of the sibling extension exists; the lower-case one otherwise.
std::filesystem::path sibling(const std::filesystem::path& p, const char* lower_ext, const char* upper_ext)
{
    std::filesystem::path a = p, b = p;
    a.replace_extension(lower_ext);
    b.replace_extension(upper_ext);
    std::error_code ec;
    if (!std::filesystem::exists(a, ec) && std::filesystem::exists(b, ec)) return b;
    return a;
}

std::string quoted_line(std::string_view s)
{
    std::string out(s.substr(0, 40));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return "'" + out + (s.size() > 40 ? "...'" : "'");
}

// The two values of the descriptor's line "<x_key> <x> <y_key> <y>" ("X min :
// ... Y min : ..."), when it has one.
std::optional<std::pair<std::string_view, std::string_view>> corner_line(std::string_view rest, std::string_view x_key,
                                                                         std::string_view y_key)
{
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        const std::string_view line = trim(rest.substr(0, nl));
        rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
        if (!line.starts_with(x_key)) continue;
        const auto y_at = line.find(y_key);
        if (y_at == std::string_view::npos) return std::nullopt;
        return std::pair{trim(line.substr(x_key.size(), y_at - x_key.size())), trim(line.substr(y_at + y_key.size()))};
    }
    return std::nullopt;
}

// The corners, and whether the rows and columns fill the extents they give:
// the program makes as many cells as the extents hold whole cells, so a
// descriptor whose sizes were swapped or edited shows here even when the
// image has the right number of bytes.
void read_corners(std::string_view rest, RawDescriptor& d, const std::string& name)
{
    if (const auto low = corner_line(rest, "X min :", "Y min :")) {
        d.xmin = narrowed_corner(low->first);
        d.ymin = narrowed_corner(low->second);
        if (!d.xmin || !d.ymin) d.xmin = d.ymin = std::nullopt;
    }
    const auto high = corner_line(rest, "X max :", "Y max :");
    if (!d.xmin || !high) return;
    const auto xmax = parse_real(high->first), ymax = parse_real(high->second);
    if (!xmax || !ymax) return;
    // The program makes the whole number of cells the extents hold; the
    // extents are written to a millionth of a metre.
    const auto check = [&](double span, std::int64_t count, const char* what) {
        const double cells = span / d.cellsize;
        const double slack = 4e-6 / d.cellsize + 1e-9 * std::fabs(cells);
        if (!(static_cast<double>(count) <= cells + slack && cells < static_cast<double>(count) + 1 + slack)) {
            char held[32];
            std::snprintf(held, sizeof held, "%.15g", std::max(0.0, std::floor(cells)));
            throw ModelError(name, "gives " + std::to_string(count) + " " + what + ", but its corners hold " + held +
                                       " cells of that size");
        }
    };
    check(*xmax - descriptor_margin - *d.xmin, d.cols, "columns");
    check(*ymax - descriptor_margin - *d.ymin, d.rows, "rows");
}

}  // namespace

std::optional<double> narrowed_corner(std::string_view text)
{
    // [-]digits.digits with at most 12 whole and 6 fraction digits: exact in
    // millionths as a 64-bit integer.
    std::string_view t = text;
    const bool negative = !t.empty() && t.front() == '-';
    if (negative) t.remove_prefix(1);
    const auto point = t.find('.');
    const std::string_view whole = t.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : t.substr(point + 1);
    const auto digits = [](std::string_view v) {
        return std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || whole.size() > 12 || fraction.size() > 6 || !digits(whole) || !digits(fraction)) {
        const auto v = parse_real(text);
        if (!v) return std::nullopt;
        return *v + descriptor_margin;
    }
    std::int64_t micro = 0;
    for (char c : whole) micro = micro * 10 + (c - '0');
    for (std::size_t k = 0; k < 6; ++k) micro = micro * 10 + (k < fraction.size() ? fraction[k] - '0' : 0);
    micro = (negative ? -micro : micro) + descriptor_margin_micro;
    const std::int64_t magnitude = micro < 0 ? -micro : micro;
    char back[40];
    std::snprintf(back, sizeof back, "%s%lld.%06lld", micro < 0 ? "-" : "", static_cast<long long>(magnitude / 1000000),
                  static_cast<long long>(magnitude % 1000000));
    return parse_real(back);
}

RawFiles raw_files_for(const std::filesystem::path& input)
{
    RawFiles files;
    const std::string ext = lower(input.extension().string());
    if (ext == ".txt") {
        files.descriptor = input;
        files.image = sibling(input, ".raw", ".RAW");
    } else {
        files.image = input;
        files.descriptor = sibling(input, ".txt", ".TXT");
    }
    const std::string stem = input.stem().string();
    for (int bytes : {raster16_bytes, raster32_bytes})
        if (ends_with_ci(stem, raster_name_tag(bytes))) files.name_bytes = bytes;
    return files;
}

RawDescriptor parse_descriptor(std::istream& in, const std::string& name)
{
    // The descriptor is a handful of short lines; anything large is the wrong file.
    constexpr std::size_t kMaxBytes = 64 * 1024;
    std::string text(kMaxBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) throw ModelError(name, "read error");
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxBytes) throw ModelError(name, "too large to be an image descriptor");

    std::vector<std::string_view> lines;
    std::string_view rest(text);
    while (!rest.empty() && lines.size() < 6) {
        const auto nl = rest.find('\n');
        lines.push_back(trim(rest.substr(0, nl)));
        rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
    }
    if (lines.size() < 6)
        throw ModelError(name, "descriptor has " + std::to_string(lines.size()) +
                                   " lines; expected rows, columns, bytes per cell, minimum, maximum and cell size");

    const auto bad = [&](int line, const std::string& what) {
        return ModelError(name, "descriptor line " + std::to_string(line) + " should be " + what + ", found " +
                                    quoted_line(lines[static_cast<std::size_t>(line - 1)]));
    };
    RawDescriptor d;
    const auto rows = parse_int(lines[0]);
    if (!rows || *rows < 0) throw bad(1, "the number of rows");
    const auto cols = parse_int(lines[1]);
    if (!cols || *cols < 0) throw bad(2, "the number of columns");
    const auto bytes = parse_int(lines[2]);
    if (!bytes || (*bytes != raster16_bytes && *bytes != raster32_bytes))
        throw bad(
            3, "the bytes per cell (" + std::to_string(raster16_bytes) + " or " + std::to_string(raster32_bytes) + ")");
    // The program writes both as 32-bit integers; anything wider would also
    // overflow the 16-bit recovery.
    const auto int32 = [](std::optional<std::int64_t> v) { return v && *v >= INT32_MIN && *v <= INT32_MAX; };
    const auto zmin = parse_int(lines[3]);
    if (!int32(zmin)) throw bad(4, "the minimum elevation (a 32-bit integer)");
    const auto zmax = parse_int(lines[4]);
    if (!int32(zmax)) throw bad(5, "the maximum elevation (a 32-bit integer)");
    const auto cellsize = parse_real(lines[5]);
    if (!cellsize || *cellsize <= 0.0) throw bad(6, "the cell size (a positive number)");
    if (*zmin > *zmax)
        throw ModelError(
            name, "descriptor minimum " + std::to_string(*zmin) + " exceeds its maximum " + std::to_string(*zmax));
    d.rows = *rows;
    d.cols = *cols;
    d.bytes_per_cell = static_cast<int>(*bytes);
    d.zmin = *zmin;
    d.zmax = *zmax;
    d.cellsize = *cellsize;
    read_corners(rest, d, name);
    return d;
}

std::int64_t recover_16bit(std::uint16_t stored, std::int64_t zmin)
{
    std::int64_t offset = (static_cast<std::int64_t>(stored) - zmin) % 65536;
    if (offset < 0) offset += 65536;
    return zmin + offset;
}

RawGrid read_raw(const std::filesystem::path& input)
{
    const RawFiles files = raw_files_for(input);
    const std::string image_name = files.image.string();
    const std::string desc_name = files.descriptor.string();
    std::error_code ec;

    // Complain about the file the user named first; only then about its partner.
    if (!std::filesystem::exists(input, ec)) throw ModelError(input.string(), "no such file");
    if (!std::filesystem::is_regular_file(files.image, ec))
        throw ModelError(image_name, std::filesystem::exists(files.image, ec)
                                         ? "is not a regular file"
                                         : "image missing (descriptor " + desc_name + " has no image beside it)");
    if (!std::filesystem::is_regular_file(files.descriptor, ec))
        throw ModelError(desc_name, std::filesystem::exists(files.descriptor, ec)
                                        ? "is not a regular file"
                                        : "descriptor missing (needed to read image " + image_name + ")");

    RawGrid out;
    {
        std::ifstream in(files.descriptor, std::ios::binary);
        if (!in) throw ModelError(desc_name, "cannot open for reading");
        out.descriptor = parse_descriptor(in, desc_name);
    }
    const RawDescriptor& d = out.descriptor;
    if (files.name_bytes != 0 && files.name_bytes != d.bytes_per_cell)
        throw ModelError(desc_name, "says " + std::to_string(d.bytes_per_cell) +
                                        " bytes per cell, but the image name ends in _m" +
                                        std::to_string(files.name_bytes) + " (" + std::to_string(files.name_bytes) +
                                        " bytes per cell)");
    if (d.rows == 0 || d.cols == 0)
        throw ModelError(desc_name, "nothing to draw: image has " + std::to_string(d.rows) + " rows and " +
                                        std::to_string(d.cols) + " columns");

    const auto file_bytes = std::filesystem::file_size(files.image, ec);
    if (ec) throw ModelError(image_name, "cannot determine file size: " + ec.message());
    const std::uint64_t rows = static_cast<std::uint64_t>(d.rows);
    const std::uint64_t cols = static_cast<std::uint64_t>(d.cols);
    const std::uint64_t bpc = static_cast<std::uint64_t>(d.bytes_per_cell);
    if (rows > UINT64_MAX / cols || rows * cols > UINT64_MAX / bpc)
        throw ModelError(desc_name, "image dimensions too large");
    const std::uint64_t expected = rows * cols * bpc;
    if (file_bytes != expected) {
        const std::string detail = "descriptor " + desc_name + " gives " + std::to_string(rows) + " rows x " +
                                   std::to_string(cols) + " columns x " + std::to_string(bpc) +
                                   " bytes = " + std::to_string(expected) + " bytes, but the image has " +
                                   std::to_string(file_bytes);
        throw ModelError(image_name, (file_bytes < expected ? "truncated: " : "size does not match: ") + detail);
    }

    ElevationGrid& grid = out.grid;
    grid.rows = static_cast<std::size_t>(rows);
    grid.cols = static_cast<std::size_t>(cols);
    grid.cellsize = d.cellsize;
    grid.xll = d.xmin;
    grid.yll = d.ymin;
    grid.z.resize(grid.rows * grid.cols);

    std::ifstream in(files.image, std::ios::binary);
    if (!in) throw ModelError(image_name, "cannot open for reading");
    // One row at a time: bounded buffer, and byte order decoded explicitly so the
    // little-endian layout is honoured whatever machine we run on.
    std::vector<unsigned char> row(grid.cols * static_cast<std::size_t>(bpc));
    std::size_t outside = 0;
    std::size_t i = 0;
    for (std::size_t r = 0; r < grid.rows; ++r) {
        in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(row.size()));
        if (static_cast<std::size_t>(in.gcount()) != row.size())
            throw ModelError(image_name, "read error at row " + std::to_string(r + 1));
        for (std::size_t c = 0; c < grid.cols; ++c, ++i) {
            const unsigned char* p = row.data() + c * bpc;
            std::int64_t v;
            if (bpc == raster16_bytes) {
                const auto stored = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
                v = recover_16bit(stored, d.zmin);
            } else {
                const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                        (static_cast<std::uint32_t>(p[2]) << 16) |
                                        (static_cast<std::uint32_t>(p[3]) << 24);
                v = static_cast<std::int32_t>(u);
            }
            if (v < d.zmin || v > d.zmax) ++outside;
            grid.z[i] = static_cast<double>(v);
        }
    }

    if (d.bytes_per_cell == raster16_bytes && d.zmax - d.zmin > 65535)
        out.warnings.push_back(desc_name + ": range " + std::to_string(d.zmin) + ".." + std::to_string(d.zmax) +
                               " spans more than 65536 units, so 16-bit values may be decoded to the wrong height");
    if (outside > 0)
        out.warnings.push_back(image_name + ": " + std::to_string(outside) +
                               " cells lie outside the descriptor range " + std::to_string(d.zmin) + ".." +
                               std::to_string(d.zmax));
    return out;
}

}  // namespace kestranov::models
