#include "export/geotiff.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal_frmts.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
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

// The two drivers the encoding uses (registering all of GDAL's takes some
// ten milliseconds, a part of writing a small grid), and GDAL's messages
// kept for ours: once per process.
void gdal_ready()
{
    static const bool registered = (GDALRegister_GTiff(), GDALRegister_MEM(), CPLSetErrorHandler(note_quietly), true);
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

// A cell as messages name it: counted from 0 from the north-west, as GDAL
// and the GIS count pixels, and its band where the file holds several.
struct CellWords {
    std::string subject;  // "the elevation", or "the value" of a described band
    std::string place;    // "of row r, column c from the north-west[ in the mean band]"
};
CellWords cell_words(std::size_t r, std::size_t c, const std::string& description)
{
    return {description.empty() ? "the elevation" : "the value",
            "of row " + std::to_string(r) + ", column " + std::to_string(c) + " from the north-west" +
                (description.empty() ? "" : " in the " + description + " band")};
}

std::string too_big_nodata(double nodata) { return "the nodata value " + shortest(nodata) + " does not fit a Float32"; }

// The nodata value a band declares, from what its cells told (BandCells):
// only when some cell has none (or the band asks for it always), and only
// when no value reads as it once both are stored (as Float32, the ASCII
// grid's asc_nodata_text, in core/model_files.h, becomes -10000, which may
// be a real depth). A value beyond a Float32 is refused first.
std::optional<double> band_nodata(const BandCells& cells, const ElevationGrid& frame, const GeoTiffBand& band,
                                  const std::string& description, const std::string& input)
{
    const bool nodata_too_big = frame.nodata && !band.float64 && !fits_float32(*frame.nodata);
    if (band.always_nodata && nodata_too_big) throw ModelError(input, too_big_nodata(*frame.nodata));
    if (cells.wide) {
        const CellWords cell = cell_words(cells.wide->row, cells.wide->col, description);
        throw ModelError(
            input, cell.subject + " " + shortest(cells.wide->value) + " " + cell.place + " does not fit a Float32");
    }
    if (!frame.nodata || !(cells.any_empty || band.always_nodata)) return std::nullopt;
    if (nodata_too_big) throw ModelError(input, too_big_nodata(*frame.nodata));
    if (cells.clash) {
        const CellWords cell = cell_words(cells.clash->row, cells.clash->col, description);
        throw ModelError(input, cell.subject + " " + cell.place + " would read as the nodata value once both are " +
                                    (band.float64 ? "Float64" : "Float32"));
    }
    return *frame.nodata;
}

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

// What a band declares of its cells to GDAL.
struct Declared {
    std::optional<double> nodata;
    bool every_cell = false;  // a value in every cell
};

// What is checked of every cell before GDAL sees one: a value that fits
// the file's type, and the nodata value each band declares. Refused here,
// the grid never reaches the encoder half written. A band whose cells the
// caller gathered (GeoTiffBand::gathered) is not read again.
std::vector<Declared> declared_nodata(const ElevationGrid& grid, const std::vector<GridRows>& bands,
                                      const std::vector<std::string>& descriptions, const GeoTiffBand& layout,
                                      const std::string& input)
{
    std::vector<Declared> declared;
    const std::string none;
    for (std::size_t k = 0; k < bands.size(); ++k) {
        const std::string& description = k < descriptions.size() ? descriptions[k] : none;
        if (k < layout.gathered.size() && layout.gathered[k]) {
            const BandCells& cells = *layout.gathered[k];
            declared.push_back({band_nodata(cells, grid, layout, description, input), !cells.any_empty});
            continue;
        }
        BandScan scan(grid.nodata, layout.float64);
        for (std::size_t r = 0; r < grid.rows && !scan.done(); ++r) scan.see_row(bands[k](r), r, grid.cols);
        declared.push_back({band_nodata(scan.cells(), grid, layout, description, input), !scan.cells().any_empty});
    }
    return declared;
}

// A band's nodata mask as GDAL's overviews read it: 255 where a cell holds
// a value, 0 where it holds none, made from the band's rows in place.
// GDAL's own mask of a nodata value would read the band again, into a
// buffer of its own (fresh pages at every band), and compare each cell with
// the value; the two agree, since no value is stored as the nodata value
// (band_nodata refuses it).
class RowMask final : public GDALRasterBand {
public:
    RowMask(GDALDataset* ds, const GridRows& rows, std::mutex& reading) : rows_(rows), reading_(reading)
    {
        poDS = ds, nBand = 0, eDataType = GDT_Byte;
        nRasterXSize = ds->GetRasterXSize(), nRasterYSize = ds->GetRasterYSize();
        nBlockXSize = nRasterXSize, nBlockYSize = 1;
    }

protected:
    CPLErr IReadBlock(int, int row, void* data) override
    {
        serve(0, row, nRasterXSize, 1, static_cast<GByte*>(data), 1, nRasterXSize);
        return CE_None;
    }
    CPLErr IRasterIO(GDALRWFlag flag, int x, int y, int w, int h, void* data, int buf_w, int buf_h, GDALDataType type,
                     GSpacing pixel, GSpacing line, GDALRasterIOExtraArg* extra) override
    {
        if (flag != GF_Read || buf_w != w || buf_h != h || type != GDT_Byte)
            return GDALRasterBand::IRasterIO(flag, x, y, w, h, data, buf_w, buf_h, type, pixel, line, extra);
        serve(x, y, w, h, static_cast<GByte*>(data), pixel, line);
        return CE_None;
    }

private:
    void serve(int x, int y, int w, int h, GByte* data, GSpacing pixel, GSpacing line)
    {
        const std::lock_guard<std::mutex> one_reader(reading_);  // the band's: they may share a row buffer
        for (int r = 0; r < h; ++r) {
            const double* row = rows_(static_cast<std::size_t>(y) + static_cast<std::size_t>(r)) + x;
            GByte* const out = data + r * line;
            // GDAL asks for packed rows: a loop the compiler runs a vector at a time.
            if (pixel == 1)
                for (int c = 0; c < w; ++c) out[c] = std::isnan(row[c]) ? 0 : 255;
            else
                for (int c = 0; c < w; ++c) out[c * pixel] = std::isnan(row[c]) ? 0 : 255;
        }
    }

    const GridRows& rows_;
    std::mutex& reading_;
};

// A band of the grid as GDAL reads one: its rows served where they lie,
// a cell without a value as the nodata value, in the type GDAL asks for.
// Nothing of the grid is copied; its overviews, which the file holds
// beside it, are the only cells kept.
class RowBand final : public GDALRasterBand {
public:
    RowBand(GDALDataset* ds, int n, GDALDataType type, GridRows rows, double nodata)
        : rows_(std::move(rows)), nodata_(nodata), mask_(ds, rows_, reading_)
    {
        poDS = ds, nBand = n, eDataType = type;
        nRasterXSize = ds->GetRasterXSize(), nRasterYSize = ds->GetRasterYSize();
        nBlockXSize = nRasterXSize, nBlockYSize = 1;
    }
    void declare(const Declared& declared) { declared_ = declared.nodata, every_cell_ = declared.every_cell; }
    void set_unit(const std::string& unit) { unit_ = unit; }
    void add_overview(GDALRasterBand* overview) { overviews_.push_back(overview); }

    double GetNoDataValue(int* success) override
    {
        if (success) *success = declared_.has_value();
        return declared_.value_or(0.0);
    }
    // With a nodata value, the mask of it made from the rows (RowMask). A
    // band with a value in every cell (count's, a grid without gaps) says
    // that every cell is valid: GDAL then resamples its overviews without
    // reading a mask, in less than half the time, to the bytes it makes
    // with the mask (GDAL 3.6 gave the same Float64 overviews either way,
    // on millions of cells; the tests compare them with its masked ones).
    GDALRasterBand* GetMaskBand() override { return declared_ ? &mask_ : GDALRasterBand::GetMaskBand(); }
    int GetMaskFlags() override
    {
        if (!declared_) return GDALRasterBand::GetMaskFlags();
        return every_cell_ ? GMF_ALL_VALID : GMF_NODATA;
    }
    const char* GetUnitType() override { return unit_.c_str(); }
    // As a band of GDAL's memory driver would say: the first is grey.
    GDALColorInterp GetColorInterpretation() override { return nBand == 1 ? GCI_GrayIndex : GCI_Undefined; }
    int GetOverviewCount() override { return static_cast<int>(overviews_.size()); }
    GDALRasterBand* GetOverview(int k) override
    {
        return k >= 0 && k < GetOverviewCount() ? overviews_[static_cast<std::size_t>(k)] : nullptr;
    }

protected:
    CPLErr IReadBlock(int, int row, void* data) override
    {
        const int size = GDALGetDataTypeSizeBytes(eDataType);
        serve(0, row, nRasterXSize, 1, data, eDataType, size, static_cast<GSpacing>(size) * nRasterXSize);
        return CE_None;
    }
    CPLErr IRasterIO(GDALRWFlag flag, int x, int y, int w, int h, void* data, int buf_w, int buf_h, GDALDataType type,
                     GSpacing pixel, GSpacing line, GDALRasterIOExtraArg* extra) override
    {
        // Only a read cell for cell is served in place; anything else (a
        // resampled read) goes through GDAL's blocks, a row at a time.
        if (flag != GF_Read || buf_w != w || buf_h != h)
            return GDALRasterBand::IRasterIO(flag, x, y, w, h, data, buf_w, buf_h, type, pixel, line, extra);
        serve(x, y, w, h, data, type, pixel, line);
        return CE_None;
    }

private:
    void serve(int x, int y, int w, int h, void* data, GDALDataType type, GSpacing pixel, GSpacing line)
    {
        // One reader of the band at a time: its row buffer is one, and so may
        // be the rows it reads (count's are made in the grid's buffer). GDAL
        // reads a band from the thread that copies it (its NUM_THREADS only
        // compress tiles already read, and its overviews' threads resample
        // chunks read for them), so the lock is never waited on; it keeps a
        // GDAL that read rows on its workers from mixing them.
        const std::lock_guard<std::mutex> one_reader(reading_);
        // Packed cells of the band's own type, as GDAL asks for them to
        // resample and to copy: converted in one pass, without the buffer.
        // Every value fits the type (declared_nodata refused any other), so
        // the conversion is GDALCopyWords' own: a NaN nodata value is left
        // to it.
        if (type == eDataType && pixel == GDALGetDataTypeSizeBytes(type) && !std::isnan(nodata_)) {
            if (type == GDT_Float32)
                serve_packed<float>(x, y, w, h, static_cast<GByte*>(data), line);
            else
                serve_packed<double>(x, y, w, h, static_cast<GByte*>(data), line);
            return;
        }
        // One row's buffer for the band's life: GDAL asks a row at a time.
        cells_.resize(static_cast<std::size_t>(w));
        // Held here, so that the stores into the buffer need not reload them.
        double* const cells = cells_.data();
        const double nodata = nodata_;
        for (int r = 0; r < h; ++r) {
            const double* row = rows_(static_cast<std::size_t>(y) + static_cast<std::size_t>(r)) + x;
            for (int c = 0; c < w; ++c) cells[c] = std::isnan(row[c]) ? nodata : row[c];
            GDALCopyWords64(cells, GDT_Float64, sizeof(double), static_cast<GByte*>(data) + r * line, type,
                            static_cast<int>(pixel), w);
        }
    }

    template <class Cell>
    void serve_packed(int x, int y, int w, int h, GByte* data, GSpacing line)
    {
        const Cell nodata = static_cast<Cell>(nodata_);
        for (int r = 0; r < h; ++r) {
            const double* row = rows_(static_cast<std::size_t>(y) + static_cast<std::size_t>(r)) + x;
            Cell* const out = reinterpret_cast<Cell*>(data + r * line);
            for (int c = 0; c < w; ++c) out[c] = std::isnan(row[c]) ? nodata : static_cast<Cell>(row[c]);
        }
    }

    GridRows rows_;
    double nodata_;
    std::mutex reading_;
    RowMask mask_;
    std::vector<double> cells_;
    std::optional<double> declared_;
    bool every_cell_ = false;
    std::string unit_;
    std::vector<GDALRasterBand*> overviews_;
};

// The grid as a dataset, georeferenced as its ASCII grid is, a RowBand for
// each of its bands, and the overviews a COG holds: each half the one
// before (rounded down) until the last fits in one tile, resampled as
// GDAL's COG driver does, cubic, with the nodata cells left out.
class RowDataset final : public GDALDataset {
public:
    RowDataset(const ElevationGrid& grid, const GeoTiffBand& layout, const double transform[6])
    {
        nRasterXSize = static_cast<int>(grid.cols), nRasterYSize = static_cast<int>(grid.rows);
        std::copy(transform, transform + 6, transform_);
        if (!layout.srs_wkt.empty()) {
            srs_.importFromWkt(layout.srs_wkt.c_str());
            srs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        }
        has_srs_ = !layout.srs_wkt.empty();
    }
    CPLErr GetGeoTransform(double* transform) override
    {
        std::copy(transform_, transform_ + 6, transform);
        return CE_None;
    }
    const OGRSpatialReference* GetSpatialRef() const override { return has_srs_ ? &srs_ : nullptr; }
    RowBand* band(int n) { return static_cast<RowBand*>(GetRasterBand(n)); }
    void add_band(std::unique_ptr<RowBand> b) { SetBand(GetRasterCount() + 1, b.release()); }
    // Returns false with GDAL's complaint left when an overview could not
    // be made; on `threads` threads.
    bool build_overviews(GDALDataType type, int threads);

private:
    double transform_[6] = {};
    OGRSpatialReference srs_;
    bool has_srs_ = false;
    std::vector<Dataset> overviews_;
};

// The tile side of the file, which is also the size below which no
// overview is needed.
constexpr int tile_side = 512;

bool RowDataset::build_overviews(GDALDataType type, int threads)
{
    // GDAL resamples a band in chunks of full-width rows, each in a buffer
    // of its own made for the band: its default chunk of a grid a few
    // thousand cells wide takes megabytes of fresh pages at every band.
    // Chunks of 32 rows stay in the cache and need far fewer; each
    // overview cell is made from the same cells with the same weights
    // whatever the chunk, so the file's bytes do not change.
    const CPLConfigOptionSetter chunk("GDAL_OVR_CHUNKYSIZE", "32", false);
    // Chunks resampled by a pool of that many threads, each into its own
    // rows of the overview: the same cells.
    const CPLConfigOptionSetter pool("GDAL_NUM_THREADS", std::to_string(std::max(1, threads)).c_str(), false);
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    if (!mem) return false;
    for (int w = nRasterXSize, h = nRasterYSize; w > tile_side || h > tile_side;) {
        w = std::max(1, w / 2), h = std::max(1, h / 2);
        overviews_.emplace_back(mem->Create("", w, h, GetRasterCount(), type, nullptr));
        if (!overviews_.back()) return false;
    }
    for (int n = 1; n <= GetRasterCount(); ++n) {
        std::vector<GDALRasterBandH> levels;
        for (const Dataset& o : overviews_) {
            GDALRasterBand* level = o->GetRasterBand(n);
            int declared = 0;
            const double nodata = band(n)->GetNoDataValue(&declared);
            if (declared) level->SetNoDataValue(nodata);
            band(n)->add_overview(level);
            levels.push_back(GDALRasterBand::ToHandle(level));
        }
        if (levels.empty()) continue;
        if (GDALRegenerateOverviews(GDALRasterBand::ToHandle(band(n)), static_cast<int>(levels.size()), levels.data(),
                                    "CUBIC", nullptr, nullptr) != CE_None)
            return false;
    }
    return true;
}

// The grid as a dataset GDAL can copy, its overviews built: a band for each
// of `bands`.
std::unique_ptr<RowDataset> row_dataset(const ElevationGrid& grid, const std::vector<GridRows>& bands,
                                        const std::vector<std::string>& descriptions, const GeoTiffBand& layout,
                                        const std::string& input)
{
    constexpr std::size_t most = 2147483647;  // GDAL counts rows and columns in an int
    if (grid.rows > most || grid.cols > most)
        throw ModelError(input, "GDAL refuses the grid: " + std::to_string(grid.rows) + " rows and " +
                                    std::to_string(grid.cols) + " columns are more than it can count");
    // Everything that can be refused before the encoding is refused here.
    double transform[6];
    georeference(grid, layout, transform, input);
    OGRSpatialReference srs;
    if (!layout.srs_wkt.empty() && srs.importFromWkt(layout.srs_wkt.c_str()) != OGRERR_NONE)
        throw ModelError(input, "GDAL cannot read the coordinate system it was given");
    const std::vector<Declared> declared = declared_nodata(grid, bands, descriptions, layout, input);

    const GDALDataType type = layout.float64 ? GDT_Float64 : GDT_Float32;
    auto ds = std::make_unique<RowDataset>(grid, layout, transform);
    const double nodata = grid.nodata.value_or(std::numeric_limits<double>::quiet_NaN());
    for (std::size_t k = 0; k < bands.size(); ++k) {
        auto band = std::make_unique<RowBand>(ds.get(), static_cast<int>(k) + 1, type, bands[k], nodata);
        // A band of counts holds points, not lengths: it has no unit.
        const bool counts = k < descriptions.size() && descriptions[k] == "count";
        if (!counts) band->set_unit(layout.unit);
        if (k < descriptions.size()) band->SetDescription(descriptions[k].c_str());
        band->declare(declared[k]);
        ds->add_band(std::move(band));
    }
    if (!ds->build_overviews(type, layout.threads))
        throw gdal_failure(grid, input, "GDAL could not build the overviews", "no reason given");
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

// A name in GDAL's memory file system, removed with whatever it holds.
class MemoryFile {
public:
    MemoryFile() : path_("/vsimem/kestranov-export-" + std::to_string(getpid()) + ".tif") {}
    ~MemoryFile() { VSIUnlink(path_.c_str()); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

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

// The Cloud Optimized GeoTIFF of `source` (its overviews built), read back
// from GDAL's memory file system. GDAL's GeoTIFF driver lays it out as a
// COG when it copies the overviews with the image: the directories first,
// then the tiles from the smallest overview to the full image. Each band
// has tiles of its own (a float mean beside a whole count in one tile
// packs worse and slower), and the tiles are compressed by `threads`
// workers, written in the same order whatever their number. Beyond the
// grid and its overviews, GDAL holds the tiles being compressed (a few per
// worker, 1 MB each in Float32) and the file, compressed, which is then
// copied out once. DEFLATE's level 5 rather than its usual 6: a quarter
// less time for files half a percent larger.
std::vector<unsigned char> cog_bytes(const ElevationGrid& grid, GDALDataset& source, const GeoTiffBand& band,
                                     const std::string& input)
{
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!gtiff) throw ModelError(input, "GDAL has no GeoTIFF driver");
    const std::string side = std::to_string(tile_side), width = "BLOCKXSIZE=" + side, height = "BLOCKYSIZE=" + side;
    const std::string threads = "NUM_THREADS=" + std::to_string(std::max(1, band.threads));
    const char* const options[] = {"TILED=YES",     width.c_str(), height.c_str(),    "COMPRESS=DEFLATE",
                                   "PREDICTOR=3",   "ZLEVEL=5",    "INTERLEAVE=BAND", "COPY_SRC_OVERVIEWS=YES",
                                   threads.c_str(), nullptr};
    const MemoryFile file;
    {
        const Dataset written(
            gtiff->CreateCopy(file.path(), &source, FALSE, const_cast<char**>(options), nullptr, nullptr));
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
        const std::unique_ptr<RowDataset> source = row_dataset(frame, bands, descriptions, band, input);
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
    const GridRows rows = [&grid](std::size_t r) { return grid.z.data() + r * grid.cols; };
    return encode_geotiff(grid, rows, band, input);
}

}  // namespace kestranov::exporter
