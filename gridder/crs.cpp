#include "gridder/crs.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "export/linear_unit.h"

namespace kestranov::gridder {
namespace {

void gdal_ready()
{
    static const bool registered = (GDALAllRegister(), true);
    (void)registered;
}

std::string exported(const OGRSpatialReference& srs, const char* format)
{
    char* text = nullptr;
    const char* const options[] = {format, nullptr};
    const OGRErr e = srs.exportToWkt(&text, options);
    std::string wkt = e == OGRERR_NONE && text ? text : "";
    CPLFree(text);
    return wkt;
}

Crs describe(const OGRSpatialReference& srs)
{
    // GDAL says on stderr what a format cannot hold (a geocentric system in
    // ESRI's WKT): the empty text says it here.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    struct Pop {
        ~Pop() { CPLPopErrorHandler(); }
    } pop;
    Crs c;
    c.horizontal = srs.IsProjected() || srs.IsGeographic();
    c.wkt = exported(srs, "FORMAT=WKT2_2019");
    c.esri_wkt = exported(srs, "FORMAT=WKT1_ESRI");
    c.name = srs.GetName() ? srs.GetName() : "unnamed";
    const char* authority = srs.GetAuthorityName(nullptr);
    const char* code = srs.GetAuthorityCode(nullptr);
    if (authority && code) c.authority = std::string(authority) + ":" + code;
    // A geographic system has no linear unit of its own for the heights:
    // metres, as GDAL and PDAL take them.
    if (!srs.IsProjected()) {
        // Cells in degrees; the heights' unit is not the system's to say.
        c.unit = "degree", c.units = "degrees";
        return c;
    }
    const char* unit = nullptr;
    const double metres = srs.GetLinearUnits(&unit);
    const exporter::LinearUnit u = exporter::linear_unit(metres, unit ? unit : "unknown unit");
    c.unit = u.one, c.units = u.many, c.unit_code = u.code;
    return c;
}

// A little-endian TIFF of one pixel that holds the GeoTIFF keys, the
// doubles and the text of a LAS file's records: GDAL's GeoTIFF reader then
// turns them into a coordinate system exactly as it would for an image.
class KeyTiff {
public:
    explicit KeyTiff(const LasCrs& r)
    {
        put16(0x4949), put16(42), put32(8);
        std::vector<Entry> entries = {{256, 3, 1, {1, 0}}, {257, 3, 1, {1, 0}}, {258, 3, 1, {8, 0}},
                                      {259, 3, 1, {1, 0}}, {262, 3, 1, {1, 0}}, {273, 4, 1, {}},
                                      {277, 3, 1, {1, 0}}, {278, 3, 1, {1, 0}}, {279, 4, 1, {1, 0, 0, 0}}};
        entries.push_back({34735, 3, static_cast<std::uint32_t>(r.geokeys.size() / 2), r.geokeys});
        if (!r.geodoubles.empty())
            entries.push_back({34736, 12, static_cast<std::uint32_t>(r.geodoubles.size() / 8), r.geodoubles});
        if (!r.geoascii.empty()) {
            std::vector<unsigned char> text = r.geoascii;
            if (text.back() != 0) text.push_back(0);
            entries.push_back({34737, 2, static_cast<std::uint32_t>(text.size()), text});
        }
        // The directory, then the pixel and every value too long to sit in its entry.
        const std::size_t directory = 2 + entries.size() * 12 + 4;
        std::size_t data = 8 + directory;
        const std::uint32_t pixel = static_cast<std::uint32_t>(data++);
        std::vector<std::uint32_t> at(entries.size());
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (entries[k].bytes.size() <= 4) continue;
            data += data % 2;
            at[k] = static_cast<std::uint32_t>(data);
            data += entries[k].bytes.size();
        }
        put16(static_cast<std::uint16_t>(entries.size()));
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const Entry& e = entries[k];
            put16(e.tag), put16(e.type), put32(e.count);
            if (e.tag == 273) {
                put32(pixel);
            } else if (e.bytes.size() <= 4) {
                std::vector<unsigned char> inline_value = e.bytes;
                inline_value.resize(4, 0);
                bytes_.insert(bytes_.end(), inline_value.begin(), inline_value.end());
            } else {
                put32(at[k]);
            }
        }
        put32(0);
        bytes_.push_back(0);  // the pixel
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (entries[k].bytes.size() <= 4) continue;
            bytes_.resize(at[k], 0);
            bytes_.insert(bytes_.end(), entries[k].bytes.begin(), entries[k].bytes.end());
        }
    }
    const std::vector<unsigned char>& bytes() const { return bytes_; }

private:
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count;
        std::vector<unsigned char> bytes;  // little-endian, as the LAS records hold them
    };
    void put16(std::uint16_t v) { bytes_.push_back(v & 0xff), bytes_.push_back(v >> 8); }
    void put32(std::uint32_t v)
    {
        for (int s = 0; s < 32; s += 8) bytes_.push_back(static_cast<unsigned char>(v >> s));
    }
    std::vector<unsigned char> bytes_;
};

std::atomic<int> key_files = 0;

// The start of a record's text as the user can see it in one line: what
// is not printable shown as '?', a long text cut.
std::string excerpt(const std::string& text)
{
    constexpr std::size_t shown = 40;
    std::string out;
    for (const char c : text.substr(0, shown)) out += c >= ' ' && c <= '~' ? c : '?';
    return out + (text.size() > shown ? "..." : "");
}

std::optional<Crs> crs_of_keys(const LasCrs& r)
{
    if (r.geokeys.size() < 8 || r.geokeys.size() % 2 || r.geodoubles.size() % 8)
        throw CrsUnreadable("its GeoTIFF key records are malformed");
    const KeyTiff tiff(r);
    const std::string path =
        "/vsimem/kestranov-grid-keys-" + std::to_string(getpid()) + "-" + std::to_string(key_files++) + ".tif";
    VSILFILE* f =
        VSIFileFromMemBuffer(path.c_str(), const_cast<GByte*>(tiff.bytes().data()), tiff.bytes().size(), FALSE);
    if (!f) throw CrsUnreadable("GDAL could not take its GeoTIFF keys");
    VSIFCloseL(f);
    const char* const drivers[] = {"GTiff", nullptr};
    GDALDataset* ds = GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers);
    std::optional<Crs> crs;
    if (ds) {
        if (const OGRSpatialReference* srs = ds->GetSpatialRef()) crs = describe(*srs);
        GDALClose(GDALDataset::ToHandle(ds));
    }
    VSIUnlink(path.c_str());
    // Keys that name no system (a count beyond the record, a value outside
    // the doubles) would otherwise pass as a file without one.
    if (!ds || !crs) throw CrsUnreadable("its GeoTIFF keys describe no coordinate system GDAL can read");
    if (!crs->horizontal) throw CrsError("its coordinate system is neither projected nor geographic");
    return crs;
}

}  // namespace

std::optional<Crs> crs_from_user(const std::string& text)
{
    gdal_ready();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    OGRSpatialReference srs;
    const OGRErr e = srs.SetFromUserInput(text.c_str());
    CPLPopErrorHandler();
    if (e != OGRERR_NONE) return std::nullopt;
    return describe(srs);
}

std::optional<Crs> crs_of_file(const LasCrs& records)
{
    gdal_ready();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    struct Pop {
        ~Pop() { CPLPopErrorHandler(); }
    } pop;
    if (!records.has_wkt) return records.geokeys.empty() ? std::nullopt : crs_of_keys(records);
    OGRSpatialReference srs;
    if (records.wkt.empty() || srs.importFromWkt(records.wkt.c_str()) != OGRERR_NONE) {
        // Keys beside a WKT that says nothing still name the system.
        if (!records.geokeys.empty()) return crs_of_keys(records);
        throw CrsUnreadable(records.wkt.empty() ? "its coordinate system record (OGC WKT) is empty"
                                                : "GDAL cannot read its coordinate system record (OGC WKT " +
                                                      excerpt(records.wkt) + ")");
    }
    const Crs c = describe(srs);
    if (!c.horizontal) throw CrsError("its coordinate system is neither projected nor geographic");
    return c;
}

bool same_crs(const Crs& a, const Crs& b)
{
    OGRSpatialReference x, y;
    if (x.importFromWkt(a.wkt.c_str()) != OGRERR_NONE || y.importFromWkt(b.wkt.c_str()) != OGRERR_NONE)
        return a.wkt == b.wkt;
    return x.IsSame(&y);
}

}  // namespace kestranov::gridder
