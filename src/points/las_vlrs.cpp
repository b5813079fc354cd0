#include "points/las_vlrs.h"

#include <cstring>

namespace kestranov {

namespace {

constexpr std::size_t vlr_head = 54, evlr_head = 60;

// The records whose heads of `head` bytes follow one another from `at`,
// each payload after its head, none beyond `end`.
void walk(std::uint64_t at, std::uint64_t end, std::uint64_t count, std::size_t head, const VlrRead& read,
          const VlrVisit& visit)
{
    unsigned char b[evlr_head];
    for (std::uint64_t k = 0; k < count && at <= end && end - at >= head; ++k) {
        if (!read(at, b, head)) return;
        LasVlr v{};
        std::memcpy(v.user_id, b + 2, sizeof v.user_id);
        v.record_id = little_endian<std::uint16_t>(b + 18);
        // A VLR gives its length in 16 bits, an EVLR in 64.
        v.length = head == vlr_head ? little_endian<std::uint16_t>(b + 20) : little_endian<std::uint64_t>(b + 20);
        v.at = at + head;
        if (!visit(v) || v.length > end - v.at) return;
        at = v.at + v.length;
    }
}

}  // namespace

bool LasVlr::is(std::string_view user, std::uint16_t record) const
{
    // The user id is NUL-padded to 16 bytes: `user` and then only NULs.
    if (record_id != record || user.size() > sizeof user_id) return false;
    if (std::memcmp(user_id, user.data(), user.size()) != 0) return false;
    for (std::size_t k = user.size(); k < sizeof user_id; ++k)
        if (user_id[k] != '\0') return false;
    return true;
}

void walk_vlrs(const LasHeader& h, const VlrRead& read, const VlrVisit& visit)
{
    walk(h.header_size, h.offset_to_points, h.vlr_count, vlr_head, read, visit);
}

void walk_evlrs(const LasHeader& h, std::uint64_t file_size, const VlrRead& read, const VlrVisit& visit)
{
    walk(h.evlr_start, file_size, h.evlr_count, evlr_head, read, visit);
}

}  // namespace kestranov
