#include "points/las_crs.h"

#include <cstdint>

#include "points/las_vlrs.h"

namespace kestranov {

namespace {

constexpr const char* projection_user = "LASF_Projection";
constexpr std::uint16_t wkt_record = 2112, geokeys_record = 34735, geodoubles_record = 34736, geoascii_record = 34737;
// Far beyond any real CRS (a WKT takes a few kilobytes); a larger record
// is damage, and is not worth its memory.
constexpr std::uint64_t largest_record = 1 << 20;
// Real files hold a handful of records: a walk through this many has
// strayed into other bytes (a damaged count or EVLR place).
constexpr int most_records = 1 << 16;

}  // namespace

LasCrs read_las_crs(InputFile& f, const LasHeader& h)
{
    const auto file_size = static_cast<std::uint64_t>(f.identity().size);
    const VlrRead read = [&](std::uint64_t at, unsigned char* p, std::size_t n) {
        return f.seek(at) && f.read(reinterpret_cast<char*>(p), n) == static_cast<long>(n);
    };
    LasCrs crs;
    std::vector<unsigned char> wkt;
    int walked = 0;
    const VlrVisit take = [&](const LasVlr& v) {
        std::vector<unsigned char>* into = nullptr;
        if (v.is(projection_user, wkt_record)) into = &wkt;
        if (v.is(projection_user, geokeys_record)) into = &crs.geokeys;
        if (v.is(projection_user, geodoubles_record)) into = &crs.geodoubles;
        if (v.is(projection_user, geoascii_record)) into = &crs.geoascii;
        const bool fits = v.length <= largest_record && v.at <= file_size && v.length <= file_size - v.at;
        if (into && into->empty() && !(into == &wkt && crs.has_wkt) && fits) {
            into->resize(static_cast<std::size_t>(v.length));
            const bool read_whole = read(v.at, into->data(), into->size());
            if (!read_whole) into->clear();
            // An empty WKT record still says the file meant to state a system.
            if (into == &wkt) crs.has_wkt = read_whole;
        }
        return ++walked < most_records;
    };
    walk_vlrs(h, read, take);
    walk_evlrs(h, file_size, read, take);
    while (!wkt.empty() && wkt.back() == '\0') wkt.pop_back();
    crs.wkt.assign(wkt.begin(), wkt.end());
    return crs;
}

}  // namespace kestranov
