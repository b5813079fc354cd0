#include "export/geotiff.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <memory>
#include <new>

#include "core/shortest_text.h"
#include "models/companion_run.h"
#include "models/model_error.h"

namespace kestranov::exporter {
namespace {

using models::ElevationGrid;
using models::ModelError;

struct DatasetCloser {
    void operator()(GDALDataset* ds) const { GDALClose(GDALDataset::ToHandle(ds)); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

// Whether one of GDAL's allocations failed during this export. Its last
// complaint alone may hide that: a tile it could not write for want of a
// buffer is reported after the buffer.
std::atomic<bool> ran_out_of_memory = false;

// The failure line for an allocation GDAL treats as fatal (CPLMalloc,
// CPLRealloc): it aborts once its error handler returns, so the handler ends
// the program itself, with the line and status 1 of any failed export. Built
// before GDAL starts, so that telling it needs no memory; the output file is
// created only after the encoding, so nothing is left behind.
std::string fatal_line;

// GDAL's own printing is off: each failure becomes one message of ours.
void CPL_STDCALL note_quietly(CPLErr kind, CPLErrorNum number, const char*)
{
    if (number != CPLE_OutOfMemory) return;
    ran_out_of_memory = true;
    if (kind != CE_Fatal || fatal_line.empty()) return;
    [[maybe_unused]] const ssize_t told = write(STDERR_FILENO, fatal_line.data(), fatal_line.size());
    _exit(1);
}

// GDAL's drivers, and its messages kept for ours: once per process.
void gdal_ready()
{
    static const bool registered = (GDALAllRegister(), CPLSetErrorHandler(note_quietly), true);
    (void)registered;
}

// GDAL's last complaint, for a message of our own.
std::string gdal_says(const char* fallback)
{
    const std::string said = CPLGetLastErrorMsg();
    return said.empty() ? fallback : said;
}

// Memory is the machine's limit, not a fault of the model: the message says
// how big a grid did not fit, so the user can tell what to free or split.
ModelError out_of_memory(const ElevationGrid& grid, const std::string& input)
{
    return ModelError(input, "not enough memory to convert a grid of " + std::to_string(grid.rows) + " rows and " +
                                 std::to_string(grid.cols) + " columns");
}

// GDAL's failure at `what`, told as memory running out when that was its cause.
ModelError gdal_failure(const ElevationGrid& grid, const std::string& input, const std::string& what,
                        const char* fallback)
{
    if (ran_out_of_memory || CPLGetLastErrorNo() == CPLE_OutOfMemory) return out_of_memory(grid, input);
    return ModelError(input, what + ": " + gdal_says(fallback));
}

// The value written for a cell: a nodata cell takes the grid's nodata value.
double cell_value(double v, const ElevationGrid& frame, const GeoTiffBand& band, std::size_t r, std::size_t c,
                  const std::string& input)
{
    const double written = std::isnan(v) ? *frame.nodata : v;
    if (!band.float64 && std::fabs(written) > FLT_MAX)
        throw ModelError(input, "the elevation " + shortest(written) + " of row " + std::to_string(r + 1) +
                                    ", column " + std::to_string(c + 1) + " does not fit a Float32");
    return written;
}

std::string too_big_nodata(double nodata) { return "the nodata value " + shortest(nodata) + " does not fit a Float32"; }

// Which nodata value to declare, decided as the cells go by: only when some
// cell has none (or the band asks for it always), and only when no
// elevation reads as it once both are stored (as Float32, the ASCII grid's
// asc_nodata_text, in core/model_files.h, becomes -10000, which may be a
// real depth).
class NodataWatch {
public:
    NodataWatch(const ElevationGrid& frame, const GeoTiffBand& band, const std::string& input)
        : frame_(frame), band_(band), input_(input)
    {
        if (!frame.nodata) return;
        if (band.always_nodata && !band.float64 && std::fabs(*frame.nodata) > FLT_MAX)
            throw ModelError(input, too_big_nodata(*frame.nodata));
        stored_ = band.float64 ? *frame.nodata : static_cast<float>(*frame.nodata);
    }
    void see(double v, std::size_t r, std::size_t c)
    {
        if (std::isnan(v)) {
            any_empty_ = true;
            return;
        }
        const double stored = band_.float64 ? v : static_cast<float>(v);
        if (frame_.nodata && !clash_ && stored == stored_) clash_ = {r, c};
    }
    std::optional<double> declared() const
    {
        if (!frame_.nodata || !(any_empty_ || band_.always_nodata)) return std::nullopt;
        if (!band_.float64 && std::fabs(*frame_.nodata) > FLT_MAX)
            throw ModelError(input_, too_big_nodata(*frame_.nodata));
        if (clash_)
            throw ModelError(input_, "the elevation of row " + std::to_string(clash_->first) + ", column " +
                                         std::to_string(clash_->second) +
                                         " from the north-west would read as the nodata value once both are " +
                                         (band_.float64 ? "Float64" : "Float32"));
        return *frame_.nodata;
    }

private:
    const ElevationGrid& frame_;
    const GeoTiffBand& band_;
    const std::string& input_;
    double stored_ = 0;
    bool any_empty_ = false;
    std::optional<std::pair<std::size_t, std::size_t>> clash_;
};

// Where the model lies, as the ASCII grid's header places it; refused when
// an edge is not a finite number or the cells are too small to tell apart
// at the corner's coordinates.
void georeference(const ElevationGrid& grid, const GeoTiffBand& band, double transform[6], const std::string& input)
{
    const double cs = grid.cellsize, x = *grid.xll, y = *grid.yll;
    const double east = x + static_cast<double>(grid.cols) * cs;
    const double north = band.north ? *band.north : y + static_cast<double>(grid.rows) * cs;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(east) || !std::isfinite(north))
        throw ModelError(input, "the model's edges are beyond the numbers a GeoTIFF holds");
    // GIS software maps coordinates to cells through 1 / cell size.
    if (!std::isnormal(cs) || !std::isfinite(1.0 / cs) || !(x + cs > x) || !(y + cs > y))
        throw ModelError(input, "the cell size is too small to tell the cells apart at the model's corner");
    const double gt[6] = {x, cs, 0.0, north, 0.0, -cs};
    std::copy(gt, gt + 6, transform);
}

// The model in a dataset held in memory, georeferenced as its ASCII grid
// is: a band for each of `bands`.
Dataset memory_dataset(const ElevationGrid& grid, const std::vector<GridRows>& bands,
                       const std::vector<std::string>& descriptions, const GeoTiffBand& layout,
                       const std::string& input)
{
    constexpr std::size_t most = 2147483647;  // GDAL counts rows and columns in an int
    if (grid.rows > most || grid.cols > most)
        throw ModelError(input, "GDAL refuses the grid: " + std::to_string(grid.rows) + " rows and " +
                                    std::to_string(grid.cols) + " columns are more than it can count");
    // Everything that can be refused before the grid is copied is refused here.
    double transform[6];
    georeference(grid, layout, transform, input);
    std::vector<NodataWatch> watches;
    for (std::size_t k = 0; k < bands.size(); ++k) watches.emplace_back(grid, layout, input);
    OGRSpatialReference srs;
    if (!layout.srs_wkt.empty() && srs.importFromWkt(layout.srs_wkt.c_str()) != OGRERR_NONE)
        throw ModelError(input, "GDAL cannot read the coordinate system it was given");
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);

    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    if (!mem) throw ModelError(input, "GDAL has no MEM driver");
    const GDALDataType type = layout.float64 ? GDT_Float64 : GDT_Float32;
    Dataset ds(mem->Create("", static_cast<int>(grid.cols), static_cast<int>(grid.rows), static_cast<int>(bands.size()),
                           type, nullptr));
    if (!ds) throw gdal_failure(grid, input, "GDAL refuses the grid", "no reason given");
    ds->SetGeoTransform(transform);
    if (!layout.srs_wkt.empty()) ds->SetSpatialRef(&srs);
    std::vector<double> row(grid.cols);
    for (std::size_t k = 0; k < bands.size(); ++k) {
        GDALRasterBand* band = ds->GetRasterBand(static_cast<int>(k) + 1);
        // A band of counts holds points, not lengths: it has no unit.
        const bool counts = k < descriptions.size() && descriptions[k] == "count";
        if (!layout.unit.empty() && !counts) band->SetUnitType(layout.unit.c_str());
        if (k < descriptions.size()) band->SetDescription(descriptions[k].c_str());
        NodataWatch& nodata = watches[k];
        for (std::size_t r = 0; r < grid.rows; ++r) {
            bands[k](r, row.data());
            for (std::size_t c = 0; c < grid.cols; ++c) {
                nodata.see(row[c], r, c);
                row[c] = cell_value(row[c], grid, layout, r, c, input);
            }
            if (band->RasterIO(GF_Write, 0, static_cast<int>(r), static_cast<int>(grid.cols), 1, row.data(),
                               static_cast<int>(grid.cols), 1, GDT_Float64, 0, 0, nullptr) != CE_None)
                throw gdal_failure(grid, input, "GDAL refuses the grid", "a row could not be stored");
        }
        if (const std::optional<double> declared = nodata.declared()) band->SetNoDataValue(*declared);
    }
    return ds;
}

// The coordinate system as WKT2, which holds whatever GDAL read (WKT1 has no
// room for some systems).
std::string wkt_of(const OGRSpatialReference& srs)
{
    char* text = nullptr;
    const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
    srs.exportToWkt(&text, options);
    std::string wkt = text ? text : "";
    CPLFree(text);
    return wkt;
}

// A name in GDAL's memory file system, and whatever the driver left there.
class MemoryFile {
public:
    MemoryFile() : path_("/vsimem/kestranov-export-" + std::to_string(getpid()) + ".tif") {}
    ~MemoryFile()
    {
        VSIUnlink(path_.c_str());
        VSIUnlink((path_ + ".ovr.tmp").c_str());
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

// The COG driver's copy of `source`, read back from GDAL's memory file system.
// The grid is in GDAL's hands and accepted by then, and it is encoded into
// memory: what fails there is nearly always an allocation that libtiff or
// zlib report in their own words, without GDAL's out-of-memory number.
// A complaint of PROJ's (no proj.db, a system it cannot write as GeoTIFF
// keys) is no allocation: the message then says only GDAL's words.
std::string encoding_failed(const ElevationGrid& grid)
{
    const std::string said = CPLGetLastErrorMsg();
    const bool projection = said.rfind("PROJ", 0) == 0;
    return "GDAL could not encode the grid of " + std::to_string(grid.rows) + " rows and " + std::to_string(grid.cols) +
           (projection ? " columns" : " columns, most likely for want of memory");
}

std::vector<unsigned char> cog_bytes(const ElevationGrid& grid, GDALDataset& source, const GeoTiffBand& band,
                                     const std::string& input)
{
    GDALDriver* cog = GetGDALDriverManager()->GetDriverByName("COG");
    if (!cog) throw ModelError(input, "GDAL has no COG driver (GDAL 3.1 or later is needed)");
    const std::string threads = "NUM_THREADS=" + std::to_string(std::max(1, band.threads));
    const char* const options[] = {"COMPRESS=DEFLATE", "PREDICTOR=FLOATING_POINT", "OVERVIEWS=AUTO", threads.c_str(),
                                   nullptr};
    // The overviews pass through a file of GDAL's before they are compressed
    // into ours: kept in memory as they are, not compressed twice.
    const CPLConfigOptionSetter plain_overviews("COG_TMP_COMPRESSION", "NONE", false);
    const MemoryFile file;
    {
        const Dataset written(
            cog->CreateCopy(file.path(), &source, FALSE, const_cast<char**>(options), nullptr, nullptr));
        if (!written) throw gdal_failure(grid, input, encoding_failed(grid), "no reason given");
    }
    if (CPLGetLastErrorType() >= CE_Failure) throw gdal_failure(grid, input, encoding_failed(grid), "no reason given");
    vsi_l_offset size = 0;
    GByte* bytes = VSIGetMemFileBuffer(file.path(), &size, FALSE);
    if (!bytes) throw ModelError(input, "GDAL wrote nothing");
    return std::vector<unsigned char>(bytes, bytes + size);
}

}  // namespace

std::vector<unsigned char> encode_geotiff(const ElevationGrid& frame, const GridRows& rows, const GeoTiffBand& band,
                                          const std::string& input)
{
    return encode_geotiff_bands(frame, {rows}, {}, band, input);
}

std::vector<unsigned char> encode_geotiff_bands(const ElevationGrid& frame, const std::vector<GridRows>& bands,
                                                const std::vector<std::string>& descriptions, const GeoTiffBand& band,
                                                const std::string& input)
{
    gdal_ready();
    CPLErrorReset();
    ran_out_of_memory = false;
    if (!frame.xll || !frame.yll) throw ModelError(input, "the model's corner is unknown: nothing to georeference");
    fatal_line = band.program + ": " + models::one_line(out_of_memory(frame, input).what()) + "\n";
    try {
        const Dataset source = memory_dataset(frame, bands, descriptions, band, input);
        return cog_bytes(frame, *source, band, input);
    } catch (const std::bad_alloc&) {  // from GDAL's C++ or from our copies of its rows and bytes
        throw out_of_memory(frame, input);
    }
}

EpsgSystem epsg_system(int epsg)
{
    gdal_ready();
    const std::string code = "EPSG:" + std::to_string(epsg);
    const std::string option = "--epsg " + std::to_string(epsg);
    OGRSpatialReference srs;
    if (srs.importFromEPSG(epsg) != OGRERR_NONE)
        throw ModelError(option, code + " is not a coordinate system GDAL knows");
    // A vertical system places no cell, and a geocentric one has no plane
    // to lay them in (GDAL would fail deep in the encoding, or write it).
    if (!srs.IsProjected() && !srs.IsGeographic())
        throw ModelError(option, code + (srs.GetName() ? std::string(" (") + srs.GetName() + ")" : "") +
                                     " is neither a projected nor a geographic system: no grid can be laid in it");
    EpsgSystem system{epsg, wkt_of(srs), std::nullopt};
    if (srs.IsProjected()) {
        const char* name = nullptr;
        const double metres = srs.GetLinearUnits(&name);
        system.unit = linear_unit(metres, name ? name : "unknown unit");
    }
    return system;
}

std::vector<unsigned char> encode_geotiff(const ElevationGrid& grid, const std::optional<EpsgSystem>& system,
                                          const std::string& input)
{
    GeoTiffBand band;
    if (system) {
        band.srs_wkt = system->wkt;
        band.unit = system->unit ? system->unit->code : "";
    }
    const GridRows rows = [&grid](std::size_t r, double* values) {
        std::copy_n(grid.z.begin() + static_cast<std::ptrdiff_t>(r * grid.cols), grid.cols, values);
    };
    return encode_geotiff(grid, rows, band, input);
}

}  // namespace kestranov::exporter
