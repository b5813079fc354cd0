#include "points/laz_chunk.h"

#include "points/laz_items_v2.h"
#include "points/laz_layered.h"

namespace kestranov {

LazChunkStatus decode_laz_chunk(const unsigned char* begin, const unsigned char* end, const std::vector<LazItem>& items,
                                std::size_t count, const LazNeeds& needs, LazPoint* out)
{
    if (items.empty()) return LazChunkStatus::damaged;
    if (items[0].type == LazItem::point14) return decode_layered_chunk(begin, end, items, count, needs, out);
    return decode_pointwise_chunk(begin, end, items, count, out);
}

void decode_laz_chunks(LazChunkJob& a, LazChunkJob& b, const std::vector<LazItem>& items, const LazNeeds& needs)
{
    if (!items.empty() && items[0].type != LazItem::point14) return decode_pointwise_chunks(a, b, items);
    // Layered chunks interleave the streams of their own layers already.
    for (LazChunkJob* j : {&a, &b}) j->status = decode_laz_chunk(j->begin, j->end, items, j->count, needs, j->out);
}

}  // namespace kestranov
