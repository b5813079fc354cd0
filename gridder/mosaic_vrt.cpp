#include "gridder/mosaic_vrt.h"

#include <algorithm>

#include "core/shortest_text.h"
#include "gridder/tile_jobs.h"

namespace kestranov::gridder {
namespace {

std::string xml_escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string rect(const char* name, std::int64_t x, std::int64_t y, const Tile& t)
{
    return "      <" + std::string(name) + " xOff=\"" + std::to_string(x) + "\" yOff=\"" + std::to_string(y) +
           "\" xSize=\"" + std::to_string(t.cols) + "\" ySize=\"" + std::to_string(t.rows) + "\"/>\n";
}

}  // namespace

std::string mosaic_vrt(const GridOptions& o, const TilePlan& plan)
{
    const Lattice& l = plan.lattice;
    const std::string type = o.float64 ? "Float64" : "Float32";
    std::string x =
        "<VRTDataset rasterXSize=\"" + std::to_string(l.cols) + "\" rasterYSize=\"" + std::to_string(l.rows) + "\">\n";
    // Without an axis mapping GDAL reads it in the GIS order (east, north), as it reads the tiles'.
    const std::optional<Crs>& crs = plan.system.crs;
    if (crs) x += "  <SRS>" + xml_escaped(crs->wkt) + "</SRS>\n";
    // As the single run's GeoTIFF: its west and north edges, cells of the size, north up.
    x += "  <GeoTransform>" + shortest(l.xmin) + ", " + shortest(l.size) + ", 0, " + shortest(l.ymax) + ", 0, " +
         shortest(-l.size) + "</GeoTransform>\n";
    // A band for each statistic (and the TIN), as each tile has them; none
    // named: the one --keep says, undescribed.
    const std::vector<std::string> names = band_names(o);
    for (std::size_t k = 0; k < std::max<std::size_t>(names.size(), 1); ++k) {
        const std::string band = std::to_string(k + 1);
        x.append("  <VRTRasterBand dataType=\"").append(type).append("\" band=\"").append(band).append("\">\n");
        if (!names.empty()) x += "    <Description>" + names[k] + "</Description>\n";
        x += "    <NoDataValue>" + shortest(o.nodata) + "</NoDataValue>\n";
        const bool counts = !names.empty() && names[k] == "count";  // points, not lengths: no unit
        if (crs && !crs->unit_code.empty() && !counts)
            x += "    <UnitType>" + xml_escaped(crs->unit_code) + "</UnitType>\n";
        for (const Tile& t : plan.tiles) {
            x += "    <SimpleSource>\n";
            x += "      <SourceFilename relativeToVRT=\"1\">" + tile_name(t) + "</SourceFilename>\n";
            x += "      <SourceBand>" + band + "</SourceBand>\n";
            x += "      <SourceProperties RasterXSize=\"" + std::to_string(t.cols) + "\" RasterYSize=\"" +
                 std::to_string(t.rows) + "\" DataType=\"" + type + "\"/>\n";
            x += rect("SrcRect", 0, 0, t) + rect("DstRect", t.first_col, t.first_row, t);
            x += "    </SimpleSource>\n";
        }
        x += "  </VRTRasterBand>\n";
    }
    x += "</VRTDataset>\n";
    return x;
}

}  // namespace kestranov::gridder
