// Which records of a LAS or LAZ file a reading keeps: by classification,
// by return, or both. The console keeps every record; a companion that
// grids only the ground, or only the first returns, sets a filter in the
// reading options. The decision for one record is made here and nowhere
// else; the readers only hand each record's attributes to the batch.
#pragma once

#include <bitset>
#include <cstdint>

namespace kestranov {

// Point formats 0 to 5 hold the classification in the low 5 bits of its
// byte, the synthetic, key-point and withheld flags above them; formats 6
// to 10 give it a whole byte and keep the flags apart. Every reader and
// decoder of the narrow byte takes the class from it here.
constexpr std::uint8_t narrow_class_bits = 0x1F;
constexpr std::uint8_t narrow_class(std::uint8_t byte) { return static_cast<std::uint8_t>(byte & narrow_class_bits); }

struct PointFilter {
    std::bitset<256> classes;  // the classifications kept, when by_class
    bool by_class = false;
    // first: return number 1; last: the return number is the number of
    // returns; only: the one return of its pulse. A record whose return
    // number is 0 or above its number of returns passes only `any`.
    enum class Returns { any, first, last, only };
    Returns returns = Returns::any;

    bool active() const { return by_class || returns != Returns::any; }

    // `classification`: the low 5 bits of the byte in point formats 0 to
    // 5, the whole byte in 6 to 10, as the readers give it.
    bool keeps_class(std::uint8_t classification) const { return !by_class || classes[classification]; }
    bool keeps_returns(std::uint8_t return_number, std::uint8_t number_of_returns) const
    {
        switch (returns) {
            case Returns::first:
                return return_number == 1 && number_of_returns >= 1;
            case Returns::last:
                return return_number >= 1 && return_number == number_of_returns;
            case Returns::only:
                return return_number == 1 && number_of_returns == 1;
            case Returns::any:
                break;
        }
        return true;
    }
    bool keeps(std::uint8_t classification, std::uint8_t return_number, std::uint8_t number_of_returns) const
    {
        return keeps_class(classification) && keeps_returns(return_number, number_of_returns);
    }
};

// The records of one reading of one file, as a filter judged them.
struct FilterTally {
    long long class_passed = 0;   // passing the class test (all when !by_class)
    long long return_passed = 0;  // passing the return test (all when returns == any)
    long long kept = 0;           // passing both: the records handed on
    bool operator==(const FilterTally&) const = default;
};

}  // namespace kestranov
