#include "preview/render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "preview/bitmap_font.h"

namespace kestranov::preview {
namespace {

constexpr int kLegendGap = 24;  // between map and legend strip
constexpr int kStripWidth = 24;
constexpr int kLabelGap = 8;           // between strip and its labels
constexpr int kMinLegendHeight = 200;  // room for both labels and a readable ramp
constexpr int kSwatchGap = 16;         // between the ramp and the nodata swatch below it
constexpr int kTextScale = 2;
constexpr Rgb8 kTextColour{30, 30, 30};

std::uint8_t to_byte(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

Rgb8 to_rgb8(const RgbF& c) { return {to_byte(c.r), to_byte(c.g), to_byte(c.b)}; }

void frame(RgbImage& img, int x, int y, int w, int h, Rgb8 c)
{
    img.fill_rect(x - 1, y - 1, w + 2, 1, c);
    img.fill_rect(x - 1, y + h, w + 2, 1, c);
    img.fill_rect(x - 1, y, 1, h, c);
    img.fill_rect(x + w, y, 1, h, c);
}

}  // namespace

MapGeometry map_geometry(std::size_t rows, std::size_t cols)
{
    if (rows == 0 || cols == 0) throw std::invalid_argument("map_geometry: empty grid");
    MapGeometry m;
    const std::size_t longest = std::max(rows, cols);
    if (longest < static_cast<std::size_t>(kMinLongSide)) {
        // ceil(600 / n) * n stays below 600 + n < 1200, well inside the limit.
        m.upscale = static_cast<int>((kMinLongSide + longest - 1) / longest);
        m.width = static_cast<int>(cols) * m.upscale;
        m.height = static_cast<int>(rows) * m.upscale;
    } else if (longest > static_cast<std::size_t>(kMaxLongSide)) {
        // ceil(n / ceil(n / 2000)) is at most 2000 and at least 1000 for n > 2000.
        const std::size_t b = (longest + kMaxLongSide - 1) / kMaxLongSide;
        m.block = static_cast<int>(b);
        m.width = static_cast<int>((cols + b - 1) / b);
        m.height = static_cast<int>((rows + b - 1) / b);
    } else {
        m.width = static_cast<int>(cols);
        m.height = static_cast<int>(rows);
    }
    return m;
}

RgbImage resample(std::size_t rows, std::size_t cols, const CellColourSource& colour, const MapGeometry& map)
{
    RgbImage out(map.width, map.height, kNoDataColour);
    RgbF c{};
    if (map.block <= 1) {
        const int k = map.upscale;
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t col = 0; col < cols; ++col)
                if (colour(r, col, c))
                    out.fill_rect(static_cast<int>(col) * k, static_cast<int>(r) * k, k, k, to_rgb8(c));
        return out;
    }
    // One band of `block` cell rows becomes one pixel row, so only a row of sums
    // is kept. Edge blocks may be partial and some cells empty: averaging just the
    // cells present keeps their colour honest instead of fading it to black.
    const auto b = static_cast<std::size_t>(map.block);
    const auto w = static_cast<std::size_t>(map.width);
    std::vector<double> sum(w * 3);
    std::vector<std::uint32_t> count(w);
    for (std::size_t band = 0; band * b < rows; ++band) {
        std::fill(sum.begin(), sum.end(), 0.0);
        std::fill(count.begin(), count.end(), 0u);
        for (std::size_t r = band * b; r < std::min(rows, (band + 1) * b); ++r)
            for (std::size_t col = 0; col < cols; ++col) {
                if (!colour(r, col, c)) continue;
                const std::size_t p = col / b;
                sum[p * 3] += c.r;
                sum[p * 3 + 1] += c.g;
                sum[p * 3 + 2] += c.b;
                ++count[p];
            }
        for (std::size_t p = 0; p < w; ++p) {
            if (count[p] == 0) continue;
            const double n = count[p];
            out.set(static_cast<int>(p), static_cast<int>(band),
                    {to_byte(sum[p * 3] / n), to_byte(sum[p * 3 + 1] / n), to_byte(sum[p * 3 + 2] / n)});
        }
    }
    return out;
}

RgbImage resample_cells(const CellColours& cells, const MapGeometry& map)
{
    return resample(
        cells.rows, cells.cols,
        [&](std::size_t r, std::size_t c, RgbF& out) {
            const std::size_t i = r * cells.cols + c;
            if (!cells.valid[i]) return false;
            out = cells.rgb[i];
            return true;
        },
        map);
}

std::string format_elevation(double value, int decimals, const std::string& unit)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    std::string s = buf;
    if (s.size() > 14) {
        // Absurd heights would make the legend wider than the map.
        std::snprintf(buf, sizeof buf, "%.4e", value);
        s = buf;
    }
    if (!s.empty() && s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    if (!unit.empty()) s += " " + unit;
    return s;
}

Rendered render_preview(const ElevationGrid& grid, const LegendStyle& style)
{
    Rendered out;
    out.range = elevation_range(grid);
    if (!out.range.any) throw std::invalid_argument("render_preview: no cell holds data");
    out.map = map_geometry(grid.rows, grid.cols);
    const MapGeometry& m = out.map;

    const std::string top = "max " + format_elevation(out.range.max, style.decimals, style.unit);
    const std::string bottom = "min " + format_elevation(out.range.min, style.decimals, style.unit);
    out.nodata_swatch = std::any_of(grid.z.begin(), grid.z.end(), [](double v) { return std::isnan(v); });
    const int strip_x = m.x0 + m.width + kLegendGap;
    const int strip_h = std::max(m.height, kMinLegendHeight);
    const int swatch_y = m.y0 + strip_h + kSwatchGap;
    const int legend_h = strip_h + (out.nodata_swatch ? kSwatchGap + kStripWidth : 0);
    const int label_x = strip_x + kStripWidth + kLabelGap;
    const int label_w = std::max({text_width(top, kTextScale), text_width(bottom, kTextScale),
                                  out.nodata_swatch ? text_width(kNoDataLabel, kTextScale) : 0});
    const int width = label_x + label_w + kMargin;
    const int height = m.y0 + std::max(m.height, legend_h) + kMargin;

    RgbImage canvas(width, height, {255, 255, 255});
    const ElevationRange& range = out.range;
    const RgbImage map = resample(
        grid.rows, grid.cols,
        [&](std::size_t r, std::size_t c, RgbF& colour) { return cell_colour(grid, range, r, c, colour); }, m);
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) canvas.set(m.x0 + x, m.y0 + y, map.get(x, y));
    frame(canvas, m.x0, m.y0, m.width, m.height, kFrameColour);

    // Unshaded ramp, highest at the top like the "max" label beside it.
    for (int j = 0; j < strip_h; ++j) {
        const double t = strip_h > 1 ? 1.0 - static_cast<double>(j) / (strip_h - 1) : 1.0;
        canvas.fill_rect(strip_x, m.y0 + j, kStripWidth, 1, to_rgb8(ramp_colour(t)));
    }
    frame(canvas, strip_x, m.y0, kStripWidth, strip_h, kFrameColour);
    draw_text(canvas, label_x, m.y0, top, kTextScale, kTextColour);
    draw_text(canvas, label_x, m.y0 + strip_h - text_height(kTextScale), bottom, kTextScale, kTextColour);
    if (out.nodata_swatch) {
        canvas.fill_rect(strip_x, swatch_y, kStripWidth, kStripWidth, kNoDataColour);
        frame(canvas, strip_x, swatch_y, kStripWidth, kStripWidth, kFrameColour);
        draw_text(canvas, label_x, swatch_y + (kStripWidth - text_height(kTextScale)) / 2, kNoDataLabel, kTextScale,
                  kTextColour);
    }

    out.image = std::move(canvas);
    return out;
}

}  // namespace kestranov::preview
