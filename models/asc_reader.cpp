#include "models/asc_reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

#include "models/model_error.h"

namespace kestranov::models {
namespace {

// kestranov writes the whole body on a single line, so a line-based reader would
// pull the entire grid into one string. Tokens are pulled from a fixed buffer
// instead, which keeps memory at roughly the size of the decoded grid.
class Tokenizer {
public:
    explicit Tokenizer(std::istream& in) : in_(in), buf_(1 << 20) {}

    // Next whitespace-delimited token; false at end of input. Over-long tokens are
    // cut short (they cannot be numbers anyway) but fully consumed.
    bool next(std::string& token, std::size_t& line)
    {
        token.clear();
        int ch = skip_space();
        if (ch < 0) return false;
        line = line_;
        while (ch >= 0 && !is_space(ch)) {
            if (token.size() < kMaxToken)
                token.push_back(static_cast<char>(ch));
            else
                truncated_ = true;
            ++pos_;
            ch = peek();
        }
        return true;
    }

    bool last_was_cut() const { return truncated_; }

    // True if only blanks remain before the end of the current line.
    bool rest_of_line_blank()
    {
        for (int ch = peek(); ch >= 0; ch = peek()) {
            if (ch == '\n') return true;
            if (ch != ' ' && ch != '\t' && ch != '\r') return false;
            ++pos_;
        }
        return true;
    }

    bool failed() const { return in_.bad(); }

private:
    static constexpr std::size_t kMaxToken = 64;

    static bool is_space(int ch)
    {
        return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
    }

    int peek()
    {
        if (pos_ == end_) {
            in_.read(buf_.data(), static_cast<std::streamsize>(buf_.size()));
            end_ = static_cast<std::size_t>(in_.gcount());
            pos_ = 0;
            if (end_ == 0) return -1;
        }
        return static_cast<unsigned char>(buf_[pos_]);
    }

    int skip_space()
    {
        truncated_ = false;
        for (int ch = peek(); ch >= 0; ch = peek()) {
            if (!is_space(ch)) return ch;
            if (ch == '\n') ++line_;
            ++pos_;
        }
        return -1;
    }

    std::istream& in_;
    std::vector<char> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::size_t line_ = 1;
    bool truncated_ = false;
};

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::optional<double> parse_real(const std::string& s)
{
    std::string_view v(s);
    if (!v.empty() && v.front() == '+') v.remove_prefix(1);  // from_chars rejects a plus sign
    double out = 0.0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
    if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(out)) return std::nullopt;
    return out;
}

std::optional<std::int64_t> parse_count(const std::string& s)
{
    std::int64_t out = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return out;
}

std::string shown(const std::string& token, bool cut)
{
    std::string out;
    for (unsigned char c : token) {
        if (c >= 0x20 && c < 0x7f)
            out.push_back(static_cast<char>(c));
        else
            out.push_back('?');  // keep the message on one printable line
    }
    return "'" + out + (cut ? "...'" : "'");
}

enum class Key { ncols, nrows, xll, yll, cellsize, nodata };

std::optional<Key> header_key(const std::string& word)
{
    const std::string w = lower(word);
    if (w == "ncols") return Key::ncols;
    if (w == "nrows") return Key::nrows;
    if (w == "xllcorner" || w == "xllcenter") return Key::xll;
    if (w == "yllcorner" || w == "yllcenter") return Key::yll;
    if (w == "cellsize") return Key::cellsize;
    if (w == "nodata_value") return Key::nodata;
    return std::nullopt;
}

}  // namespace

ElevationGrid parse_asc(std::istream& in, const std::string& name)
{
    Tokenizer tok(in);
    std::string token;
    std::size_t line = 0;

    std::optional<std::int64_t> ncols, nrows;
    std::optional<double> cellsize, nodata, xll, yll;
    bool x_centre = false, y_centre = false;
    bool seen[6] = {};

    // Header: "keyword value" lines until the first token that is not a keyword.
    bool have_body_token = false;
    while (tok.next(token, line)) {
        const auto key = header_key(token);
        if (!key) {
            have_body_token = true;
            break;
        }
        const std::string keyword = token;
        const std::size_t key_line = line;
        const int k = static_cast<int>(*key);
        if (seen[k])
            throw ModelError(name, "header line " + std::to_string(key_line) + ": " + keyword + " given twice");
        seen[k] = true;
        if (!tok.next(token, line) || line != key_line)
            throw ModelError(name, "header line " + std::to_string(key_line) + ": " + keyword + " has no value");
        const std::string bad = "header line " + std::to_string(key_line) + ": bad value " +
                                shown(token, tok.last_was_cut()) + " for " + keyword;
        switch (*key) {
            case Key::ncols:
            case Key::nrows: {
                auto n = parse_count(token);
                if (!n || *n < 0) throw ModelError(name, bad);
                (*key == Key::ncols ? ncols : nrows) = n;
                break;
            }
            case Key::cellsize:
                cellsize = parse_real(token);
                if (!cellsize || *cellsize <= 0.0) throw ModelError(name, bad);
                break;
            case Key::nodata:
                nodata = parse_real(token);
                if (!nodata) throw ModelError(name, bad);
                break;
            case Key::xll:
            case Key::yll: {
                const auto v = parse_real(token);
                if (!v) throw ModelError(name, bad);
                (*key == Key::xll ? xll : yll) = *v;
                // A centre moves to the corner once the cell size is known.
                (*key == Key::xll ? x_centre : y_centre) = lower(keyword).ends_with("center");
                break;
            }
        }
        if (!tok.rest_of_line_blank())
            throw ModelError(name, "header line " + std::to_string(key_line) + ": unexpected text after " + keyword);
    }
    if (tok.failed()) throw ModelError(name, "read error");
    if (!ncols) throw ModelError(name, "not an ASCII grid: header has no ncols line");
    if (!nrows) throw ModelError(name, "not an ASCII grid: header has no nrows line");
    if (!cellsize) throw ModelError(name, "not an ASCII grid: header has no cellsize line");
    if (*ncols == 0 || *nrows == 0)
        throw ModelError(name, "nothing to draw: grid has " + std::to_string(*nrows) + " rows and " +
                                   std::to_string(*ncols) + " columns");

    ElevationGrid grid;
    grid.rows = static_cast<std::size_t>(*nrows);
    grid.cols = static_cast<std::size_t>(*ncols);
    grid.cellsize = *cellsize;
    if (xll) grid.xll = x_centre ? *xll - *cellsize / 2 : *xll;
    if (yll) grid.yll = y_centre ? *yll - *cellsize / 2 : *yll;
    grid.nodata = nodata;
    // Absurd headers must fail cleanly rather than wrap the cell count around.
    if (grid.rows > SIZE_MAX / grid.cols) throw ModelError(name, "grid dimensions too large");
    const std::size_t expected = grid.rows * grid.cols;
    const std::string shape = std::to_string(expected) + " values (" + std::to_string(grid.rows) + " rows x " +
                              std::to_string(grid.cols) + " columns)";
    // Grow as values arrive: a header that lies about its size must not make us
    // allocate gigabytes before we notice the file is short.
    grid.z.reserve(std::min<std::size_t>(expected, std::size_t{1} << 20));

    bool more = have_body_token;
    while (more) {
        const std::size_t index = grid.z.size();
        if (index == expected)
            throw ModelError(name, "more values than the header's " + shape + "; extra value " +
                                       shown(token, tok.last_was_cut()) + " on line " + std::to_string(line));
        const auto v = parse_real(token);
        if (!v)
            throw ModelError(name, "non-numeric value " + shown(token, tok.last_was_cut()) + " at value " +
                                       std::to_string(index + 1) + " (row " + std::to_string(index / grid.cols + 1) +
                                       ", column " + std::to_string(index % grid.cols + 1) + ", line " +
                                       std::to_string(line) + ")");
        // Only the nodata value itself: a tolerance would take real
        // elevations near it (a 0 m cell next to a nodata of 1e-50).
        const bool empty = nodata && *v == *nodata;
        grid.z.push_back(empty ? ElevationGrid::kNoData : *v);
        more = tok.next(token, line);
    }
    if (tok.failed()) throw ModelError(name, "read error");
    if (grid.z.size() < expected)
        throw ModelError(
            name, "truncated: header promises " + shape + " but the file holds only " + std::to_string(grid.z.size()));
    return grid;
}

ElevationGrid read_asc(const std::filesystem::path& file)
{
    const std::string name = file.string();
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) throw ModelError(name, "no such file");
    if (std::filesystem::is_directory(file, ec)) throw ModelError(name, "is a directory, not a grid file");
    // A FIFO or a device could block or never end.
    if (!std::filesystem::is_regular_file(file, ec)) throw ModelError(name, "is not a regular file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ModelError(name, "cannot open for reading");
    return parse_asc(in, name);
}

}  // namespace kestranov::models
