// The entropy coder under every LAZ chunk: an adaptive arithmetic decoder
// (32-bit range, 15-bit symbol and 13-bit bit probabilities, as LASzip
// writes them), its adaptive models, and the integer decompressor that
// LASzip's items use for every corrected prediction. Reading never goes
// beyond the chunk's bytes: past its end the decoder reads zeros and
// remembers that it did, so that a stream that ends early is reported by
// the caller instead of read from other memory.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace kestranov {

// An adaptive model of `symbols` symbols (2 to 2048).
class ArithmeticModel {
public:
    explicit ArithmeticModel(std::uint32_t symbols);
    // Back to the uniform start a chunk begins with.
    void reset();
    std::uint32_t symbols() const { return symbols_; }
    // The decoding table is rebuilt in blocks of this many slices.
    static constexpr std::uint32_t table_block = 16;

private:
    friend class ArithmeticDecoder;
    void update();
    // The distribution from the counts, and the table of each slice's
    // first symbol from it.
    template <class Entry>
    void fill_table(Entry* table);

    std::uint32_t symbols_;
    std::uint32_t last_symbol_;
    // The symbol of the largest count, its start and its end in the
    // distribution, and what it has of the range beyond 2^15 units (a
    // mask: all of it for the last symbol).
    std::uint32_t likely_ = 0, likely_low_ = 0, likely_high_ = 0, likely_rest_ = 0;
    std::uint32_t table_shift_ = 0, table_size_ = 0;
    std::uint32_t total_count_ = 0, update_cycle_ = 0, symbols_until_update_ = 0;
    // Probabilities have 15 bits, counts 16 (they are halved beyond 2^15,
    // and an update comes before another 2^12 symbols) and the symbols of
    // all but the largest models 8: small tables keep more of a chunk's
    // models in the processor's nearest cache, where a symbol waits on
    // two look-ups. The wide table serves models of more than 256 symbols.
    // A symbol's start in the distribution beside its count: the one look-up
    // brings the other into the cache.
    struct Symbol {
        std::uint16_t low, count;
    };
    std::vector<Symbol> symbol_;
    std::vector<std::uint16_t> wide_table_;
    std::vector<std::uint8_t> decoder_table_;
};

// An adaptive model of one bit.
class BitModel {
public:
    BitModel();
    void reset();

private:
    friend class ArithmeticDecoder;
    void update();

    std::uint32_t bit_0_count_ = 0, bit_count_ = 0, bit_0_prob_ = 0;
    std::uint32_t update_cycle_ = 0, bits_until_update_ = 0;
};

class ArithmeticDecoder {
public:
    // Starts decoding the bytes [begin, end) (reads the first four).
    void init(const unsigned char* begin, const unsigned char* end);
    std::uint32_t decode_bit(BitModel& m);
    std::uint32_t decode_symbol(ArithmeticModel& m);
    // decode_symbol for a model whose likeliest symbol comes nearly every
    // time: that symbol is tried first, by a product and a comparison,
    // without the division and the look-ups on which the next symbol waits.
    std::uint32_t decode_likely(ArithmeticModel& m);
    // Raw bits, not modelled: 1 to 32 of them.
    std::uint32_t read_bits(std::uint32_t bits);
    std::uint8_t read_byte();
    std::uint16_t read_short();
    std::uint32_t read_int();
    std::uint64_t read_int64();
    // Whether decoding has needed bytes beyond `end`.
    bool overran() const { return overran_; }
    // The first byte the decoder has not consumed yet.
    const unsigned char* position() const { return next_; }

private:
    std::uint8_t next_byte();
    // Brings the range back to 24 bits or more.
    void renorm();
    // A raw value of `bits` bits (1 to 19: the range keeps 24 bits).
    std::uint32_t read_low_bits(std::uint32_t bits);

    const unsigned char* next_ = nullptr;
    const unsigned char* end_ = nullptr;
    std::uint32_t value_ = 0, length_ = 0;
    bool overran_ = false;
};

// Integers coded as a correction of a prediction: the correction's bit
// count k in a model per context, then its bits (the high ones modelled,
// the low ones raw), as LASzip's IntegerCompressor writes them.
class IntegerDecompressor {
public:
    // `bits`: the integers' width (range 2^bits) unless `range` is given;
    // `contexts`: how many k models; `bits_high`: bits beyond which the low
    // part is read raw.
    explicit IntegerDecompressor(std::uint32_t bits = 16, std::uint32_t contexts = 1, std::uint32_t bits_high = 8,
                                 std::uint32_t range = 0);
    // Fresh models, as every chunk starts.
    void reset();
    std::int32_t decompress(ArithmeticDecoder& dec, std::int32_t prediction, std::uint32_t context = 0);
    // decompress in two halves, the k then the rest, for a caller that
    // decodes two streams at once: each half of one stream's integer is
    // put between those of the other's, whose symbols do not wait on it.
    [[gnu::always_inline]] void decompress_k(ArithmeticDecoder& dec, std::uint32_t context)
    {
        k_ = dec.decode_symbol(used(k_models_[context], corr_bits_ + 1));
    }
    std::int32_t decompress_rest(ArithmeticDecoder& dec, std::int32_t prediction);
    // The k of the last decompress: predictions of later fields use it.
    std::uint32_t k() const { return k_; }

private:
    // The correction whose k was just decoded.
    std::int32_t read_corrector(ArithmeticDecoder& dec);
    // A model made on its first use, as fresh as a reset one: a chunk uses
    // few of the contexts and ks, and making them all cost every chunk
    // some 25 instructions a point.
    static ArithmeticModel& used(std::optional<ArithmeticModel>& m, std::uint32_t symbols)
    {
        if (!m) [[unlikely]]
            m.emplace(symbols);
        return *m;
    }

    std::uint32_t contexts_, bits_high_, corr_bits_ = 0, corr_range_ = 0;
    std::int32_t corr_min_ = 0, corr_max_ = 0;
    std::uint32_t k_ = 0;
    std::vector<std::optional<ArithmeticModel>> k_models_;          // one per context
    std::vector<std::optional<ArithmeticModel>> corrector_models_;  // one per k from 1 up
    BitModel corrector_bit_;                                        // k = 0
};

// The decoder's steps run for every field of every point: defined here so
// that the item decoders inline them, always, as the compiler left the
// integer decompressor out of line (its calls kept the decoder's state in
// memory, one more wait on every symbol).

inline std::uint8_t ArithmeticDecoder::next_byte()
{
    if (next_ < end_) return *next_++;
    overran_ = true;
    return 0;
}

[[gnu::always_inline]] inline void ArithmeticDecoder::renorm()
{
    // Whether the range fell below 2^24 follows the data, not a pattern a
    // branch predictor learns: away from the end, the bytes that bring it
    // back (0 to 3, from the range's leading zeros) are shifted in without
    // a branch. The range is never 0 (every symbol keeps a share of it),
    // which is all the builtin asks.
    if (end_ - next_ >= 4) [[likely]] {
        const auto shift = static_cast<std::uint32_t>(__builtin_clz(length_)) & ~7u;
        std::uint32_t word;  // the next four bytes, most significant first
        std::memcpy(&word, next_, sizeof word);
        if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
        const std::uint64_t bytes = word;
        value_ = static_cast<std::uint32_t>((std::uint64_t{value_} << shift) | (bytes >> (32 - shift)));
        length_ <<= shift;
        next_ += shift / 8;
        return;
    }
    while (length_ < (1u << 24)) {
        value_ = (value_ << 8) | next_byte();
        length_ <<= 8;
    }
}

[[gnu::always_inline]] inline std::uint32_t ArithmeticDecoder::decode_bit(BitModel& m)
{
    std::uint32_t x = m.bit_0_prob_ * (length_ >> 13);
    std::uint32_t bit = value_ >= x;
    if (bit == 0) {
        length_ = x;
        ++m.bit_0_count_;
    } else {
        value_ -= x;
        length_ -= x;
    }
    renorm();
    if (--m.bits_until_update_ == 0) m.update();
    return bit;
}

[[gnu::always_inline]] inline std::uint32_t ArithmeticDecoder::decode_symbol(ArithmeticModel& m)
{
    std::uint32_t sym, x, y = length_;
    const ArithmeticModel::Symbol* dist = m.symbol_.data();
    length_ >>= 15;
    const std::uint32_t dv = value_ / length_;
    std::uint32_t t = dv >> m.table_shift_;
    // Only damaged bytes put the value beyond the range; keep the look-up
    // inside the table all the same.
    if (t > m.table_size_) t = m.table_size_;
    std::uint32_t n;
    if (!m.wide_table_.empty()) [[unlikely]] {
        sym = m.wide_table_[t];
        n = m.wide_table_[t + 1] + 1u;
    } else {
        sym = m.decoder_table_[t];
        n = m.decoder_table_[t + 1] + 1u;
    }
    while (n > sym + 1) {
        std::uint32_t k = (sym + n) >> 1;
        const bool above = dist[k].low > dv;
        n = above ? k : n;
        sym = above ? sym : k;
    }
    const std::uint32_t low = dist[sym].low;
    x = low * length_;
    // A symbol's share is its width in units; the last one's (the entry
    // beyond it ends the distribution at 2^15) holds the range's rest too,
    // what the division by 2^15 left over. Added by a mask, as the
    // compiler made a branch of the conditional form, and after the
    // product, which the next symbol waits on.
    const std::uint32_t rest = y & 0x7FFFu & (0u - static_cast<std::uint32_t>(sym == m.last_symbol_));
    value_ -= x;
    length_ = (dist[sym + 1].low - low) * length_ + rest;
    renorm();
    ++m.symbol_[sym].count;
    if (--m.symbols_until_update_ == 0) m.update();
    return sym;
}

[[gnu::always_inline]] inline std::uint32_t ArithmeticDecoder::decode_likely(ArithmeticModel& m)
{
    const std::uint32_t unit = length_ >> 15;
    const std::uint32_t x = m.likely_low_ * unit;
    const std::uint32_t width = (m.likely_high_ - m.likely_low_) * unit + (length_ & m.likely_rest_);
    if (value_ - x >= width) [[unlikely]]
        return decode_symbol(m);
    const std::uint32_t sym = m.likely_;  // an update may choose another
    value_ -= x;
    length_ = width;
    renorm();
    ++m.symbol_[sym].count;
    if (--m.symbols_until_update_ == 0) m.update();
    return sym;
}

[[gnu::always_inline]] inline std::uint32_t ArithmeticDecoder::read_low_bits(std::uint32_t bits)
{
    length_ >>= bits;
    std::uint32_t v = value_ / length_;
    value_ -= length_ * v;
    renorm();
    // Beyond 2^bits only from damaged bytes.
    return v & ((1u << bits) - 1);
}

[[gnu::always_inline]] inline std::uint32_t ArithmeticDecoder::read_bits(std::uint32_t bits)
{
    if (bits > 19) {
        std::uint32_t low = read_low_bits(16);
        return (read_low_bits(bits - 16) << 16) | low;
    }
    return read_low_bits(bits);
}

[[gnu::always_inline]] inline std::uint8_t ArithmeticDecoder::read_byte()
{
    return static_cast<std::uint8_t>(read_low_bits(8));
}

[[gnu::always_inline]] inline std::uint16_t ArithmeticDecoder::read_short()
{
    return static_cast<std::uint16_t>(read_low_bits(16));
}

[[gnu::always_inline]] inline std::uint32_t ArithmeticDecoder::read_int()
{
    std::uint32_t low = read_short();
    return (static_cast<std::uint32_t>(read_short()) << 16) | low;
}

[[gnu::always_inline]] inline std::uint64_t ArithmeticDecoder::read_int64()
{
    std::uint64_t low = read_int();
    return (static_cast<std::uint64_t>(read_int()) << 32) | low;
}

[[gnu::always_inline]] inline std::int32_t IntegerDecompressor::read_corrector(ArithmeticDecoder& dec)
{
    if (k_ == 0) return static_cast<std::int32_t>(dec.decode_bit(corrector_bit_));
    if (k_ >= 32) return corr_min_;
    // The k-bit value c stands for a correction in [-(2^k - 1), -2^(k-1)]
    // below 2^(k-1) and in [2^(k-1) + 1, 2^k] from it; the low bits beyond
    // bits_high are stored raw.
    std::uint32_t c = dec.decode_symbol(used(corrector_models_[k_ - 1], 1u << (k_ <= bits_high_ ? k_ : bits_high_)));
    if (k_ > bits_high_) {
        std::uint32_t low_bits = k_ - bits_high_;
        c = (c << low_bits) | dec.read_bits(low_bits);
    }
    // The sign is a coin toss: chosen by a mask, not a branch.
    const std::uint32_t below = 0u - static_cast<std::uint32_t>(c < (1u << (k_ - 1)));
    return static_cast<std::int32_t>(c + 1 - (below & (1u << k_)));
}

[[gnu::always_inline]] inline std::int32_t IntegerDecompressor::decompress(ArithmeticDecoder& dec,
                                                                           std::int32_t prediction,
                                                                           std::uint32_t context)
{
    decompress_k(dec, context);
    return decompress_rest(dec, prediction);
}

[[gnu::always_inline]] inline std::int32_t IntegerDecompressor::decompress_rest(ArithmeticDecoder& dec,
                                                                                std::int32_t prediction)
{
    // Unsigned sums: the corrections wrap around the integers' range.
    std::uint32_t real = static_cast<std::uint32_t>(prediction) + static_cast<std::uint32_t>(read_corrector(dec));
    // Back into the range, without a branch on the data.
    // Masks, as the compiler made branches of the conditional forms.
    const std::uint32_t negative = static_cast<std::uint32_t>(static_cast<std::int32_t>(real) < 0);
    const std::uint32_t beyond = static_cast<std::uint32_t>(real >= corr_range_) & (negative ^ 1u);
    const std::uint32_t up = corr_range_ & (0u - negative);
    const std::uint32_t down = corr_range_ & (0u - beyond);
    return static_cast<std::int32_t>(real + up - down);
}

}  // namespace kestranov
