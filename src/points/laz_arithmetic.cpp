#include "points/laz_arithmetic.h"

namespace kestranov {

namespace {

// Counts are halved beyond these totals, so that a model follows the data
// that come late in a chunk as well as those that came early.
constexpr std::uint32_t symbol_max_count = 1u << 15;
constexpr std::uint32_t bit_max_count = 1u << 13;

// Sixteen bytes of slices, all of one symbol: a block of table_block
// slices takes one store of them for byte entries, two for wider ones.
template <class Entry>
struct SliceVectorOf;
template <>
struct SliceVectorOf<std::uint8_t> {
    using type = std::uint8_t __attribute__((vector_size(16)));
};
template <>
struct SliceVectorOf<std::uint16_t> {
    using type = std::uint16_t __attribute__((vector_size(16)));
};
template <class Entry>
using SliceVector = typename SliceVectorOf<Entry>::type;

// Gives the slices [at, stop) the symbol in `v`, in whole blocks: up to
// table_block - 1 slices beyond `stop` are written too (at least one
// block always is).
template <class Entry>
void fill_slices(Entry* at, const Entry* stop, const SliceVector<Entry>& v)
{
    constexpr std::uint32_t per_vector = sizeof v / sizeof(Entry);
    do {
        for (std::uint32_t i = 0; i < ArithmeticModel::table_block; i += per_vector) std::memcpy(at + i, &v, sizeof v);
        at += ArithmeticModel::table_block;
    } while (at < stop);
}

}  // namespace

ArithmeticModel::ArithmeticModel(std::uint32_t symbols) : symbols_(symbols), last_symbol_(symbols - 1)
{
    // A table of the first symbol in each slice of the range narrows the
    // search. The slices only speed it up, any number decodes the same
    // symbols: eight or more slices per symbol leave the likely ones several
    // slices of their own, so that most look-ups need no search, whose
    // steps would branch on data no predictor learns (even where all are
    // alike, one look-up in eight meets a slice shared by two). Small
    // models have a table too, for the same reason. At most 2048 symbols:
    // 14 bits of the 15 of a probability.
    std::uint32_t table_bits = 5;
    while (symbols_ > (1u << table_bits)) ++table_bits;
    table_bits += 3;
    table_size_ = 1u << table_bits;
    table_shift_ = 15 - table_bits;
    if (symbols_ > 256) {
        wide_table_.resize(table_size_ + 2 + table_block);
    } else {
        decoder_table_.resize(table_size_ + 2 + table_block);
    }
    symbol_.resize(symbols_ + 1);
    symbol_[symbols_].low = 1u << 15;  // where the last symbol ends
    reset();
}

void ArithmeticModel::reset()
{
    total_count_ = 0;
    update_cycle_ = symbols_;
    for (Symbol& e : symbol_) e.count = 1;
    update();
    symbols_until_update_ = update_cycle_ = (symbols_ + 6) >> 1;
}

void ArithmeticModel::update()
{
    if ((total_count_ += update_cycle_) > symbol_max_count) {
        total_count_ = 0;
        for (std::uint32_t k = 0; k < symbols_; ++k) {
            std::uint16_t& c = symbol_[k].count;
            total_count_ += (c = static_cast<std::uint16_t>((c + 1) >> 1));
        }
    }
    if (wide_table_.empty()) {
        fill_table(decoder_table_.data());
    } else {
        fill_table(wide_table_.data());
    }
    update_cycle_ = (5 * update_cycle_) >> 2;
    std::uint32_t max_cycle = (symbols_ + 6) << 3;
    if (update_cycle_ > max_cycle) update_cycle_ = max_cycle;
    symbols_until_update_ = update_cycle_;
}

template <class Entry>
void ArithmeticModel::fill_table(Entry* table)
{
    // The model's fields in locals: the table's entries are bytes, which
    // may alias anything for all the compiler knows, so that it read every
    // field again after each store (and wrote the likeliest symbol at every
    // symbol). Models of 256 symbols rebuild 2048 slices some 250 times a
    // chunk of 50000 points.
    const std::uint32_t symbols = symbols_, shift = table_shift_;
    Symbol* const dist = symbol_.data();
    const std::uint32_t scale = 0x80000000u / total_count_;
    std::uint32_t sum = 0, most = 0, likely = 0;
    // Slices from `next` to the one symbol k starts in begin their search
    // at k - 1. They are written in blocks of table_block, the last block
    // running past them: the symbols after k write over it, as each writes
    // from its own first slice on. Most symbols own fewer slices than a
    // block, so that the loop's exit follows no data (one slice at a time,
    // it mispredicted about once a symbol).
    std::uint32_t next = 1;
    // k - 1 in every slice: one more at each symbol, rather than a byte
    // spread over a block at each.
    SliceVector<Entry> before = SliceVector<Entry>{} - 1;
    for (std::uint32_t k = 0; k < symbols; ++k) {
        const auto low = static_cast<std::uint16_t>((scale * sum) >> (31 - 15));
        const std::uint32_t count = dist[k].count;
        dist[k].low = low;
        sum += count;
        // The first of the largest counts, chosen without a branch on them.
        const bool larger = count > most;
        likely = larger ? k : likely;
        most = larger ? count : most;
        const std::uint32_t w = low >> shift;
        fill_slices(table + next, table + w + 1, before);
        before += 1;
        next = w + 1;
    }
    fill_slices(table + next, table + table_size_ + 2, before);
    table[0] = 0;
    likely_ = likely;
    likely_low_ = dist[likely].low;
    likely_high_ = dist[likely + 1].low;
    likely_rest_ = likely == last_symbol_ ? 0x7FFFu : 0;
}

BitModel::BitModel() { reset(); }

void BitModel::reset()
{
    bit_0_count_ = 1;
    bit_count_ = 2;
    bit_0_prob_ = 1u << 12;
    update_cycle_ = bits_until_update_ = 4;
}

void BitModel::update()
{
    if ((bit_count_ += update_cycle_) > bit_max_count) {
        bit_count_ = (bit_count_ + 1) >> 1;
        bit_0_count_ = (bit_0_count_ + 1) >> 1;
        if (bit_0_count_ == bit_count_) ++bit_count_;
    }
    std::uint32_t scale = 0x80000000u / bit_count_;
    bit_0_prob_ = (bit_0_count_ * scale) >> (31 - 13);
    update_cycle_ = (5 * update_cycle_) >> 2;
    if (update_cycle_ > 64) update_cycle_ = 64;
    bits_until_update_ = update_cycle_;
}

void ArithmeticDecoder::init(const unsigned char* begin, const unsigned char* end)
{
    next_ = begin;
    end_ = end;
    overran_ = false;
    length_ = 0xFFFFFFFFu;
    value_ = 0;
    for (int i = 0; i < 4; ++i) value_ = (value_ << 8) | next_byte();
}

IntegerDecompressor::IntegerDecompressor(std::uint32_t bits, std::uint32_t contexts, std::uint32_t bits_high,
                                         std::uint32_t range)
    : contexts_(contexts), bits_high_(bits_high)
{
    if (range != 0) {
        // As many bits as the range needs, one fewer for a power of two.
        corr_range_ = range;
        while (range != 0) {
            range >>= 1;
            ++corr_bits_;
        }
        if (corr_range_ == (1u << (corr_bits_ - 1))) --corr_bits_;
        corr_min_ = -static_cast<std::int32_t>(corr_range_ / 2);
        corr_max_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(corr_min_) + corr_range_ - 1);
    } else if (bits != 0 && bits < 32) {
        corr_bits_ = bits;
        corr_range_ = 1u << bits;
        corr_min_ = -static_cast<std::int32_t>(corr_range_ / 2);
        corr_max_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(corr_min_) + corr_range_ - 1);
    } else {
        // The whole 32-bit circle: corrections wrap around it.
        corr_bits_ = 32;
        corr_range_ = 0;
        corr_min_ = INT32_MIN;
        corr_max_ = INT32_MAX;
    }
    k_models_.resize(contexts_);
    corrector_models_.resize(corr_bits_);
}

void IntegerDecompressor::reset()
{
    // Unmade again: each is made fresh on its first use.
    for (std::optional<ArithmeticModel>& m : k_models_) m.reset();
    for (std::optional<ArithmeticModel>& m : corrector_models_) m.reset();
    corrector_bit_.reset();
}

}  // namespace kestranov
