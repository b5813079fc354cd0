// The layered chunks of point formats 6 to 10 (LASzip's version 3 items).
// Such a chunk holds its first point raw, the chunk's point count, the byte
// count of every layer of every item, then the layers themselves, each an
// arithmetic stream of its own: that is what lets a run decode the layers it
// needs (returns and XY, Z, and classification when a filter asks for it)
// and step over the others by their byte counts.
#pragma once

#include <cstddef>
#include <vector>

#include "points/laz_chunk.h"

namespace kestranov {

// Decodes the `count` points of the layered chunk [begin, end) into
// `out[0..count)`; `items` is the LASzip VLR's list, all of version 3, the
// point14 item first. Never reads outside [begin, end). `classification`
// in `out` is 0 unless `needs.classification`.
LazChunkStatus decode_layered_chunk(const unsigned char* begin, const unsigned char* end,
                                    const std::vector<LazItem>& items, std::size_t count, const LazNeeds& needs,
                                    LazPoint* out);

}  // namespace kestranov
