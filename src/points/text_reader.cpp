#include "points/text_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/fatal.h"
#include "platform/memory.h"
#include "points/number_scanner.h"
#include "points/part_scanner.h"

namespace {

// Each block has a byte more than it is filled with: the scanner reads the
// byte after a token, and a blank is put there behind the file's last token.
constexpr std::size_t default_block_size = 4 << 20;
std::size_t block_size = default_block_size;
constexpr std::size_t shown_token = 40;

// A byte of a bad token as the console can show it: control and non-ASCII
// bytes (a binary file taken for a point file) as \xNN.
std::string printable(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f) return std::string(1, c);
    const char* hex = "0123456789ABCDEF";
    return {'\\', 'x', hex[u >> 4], hex[u & 15]};
}

struct TextScan {
    explicit TextScan(RecordBatch& records) : batch(records), path(records.path()) {}

    RecordBatch& batch;
    const std::string& path;
    double pending[3] = {0, 0, 0};
    int have = 0;  // numbers of the record being read

    [[noreturn]] void bad_token(const char* first, const char* last, ScanStatus status)
    {
        const std::size_t n = static_cast<std::size_t>(last - first);
        std::string shown;
        for (std::size_t k = 0; k < std::min(n, shown_token); ++k) shown += printable(first[k]);
        if (n > shown_token) shown += "...";
        fail("\n\n\tFile " + path + ", record " + std::to_string(batch.records() + 1) + ": \"" + shown + "\" is " +
             (status == ScanStatus::not_finite ? "not a finite number\n" : "not a number\n"));
    }

    void record_done()
    {
        have = 0;
        batch.add(pending[0], pending[1], pending[2]);
    }

    // The numbers of the parts in file order, up to the first bad token: the
    // records, progress lines and messages come out as if read in one go.
    void consume(const std::vector<TokenRun>& runs)
    {
        for (const TokenRun& run : runs) {
            if (run.failed) {
                scan(run.first, run.last);
                continue;
            }
            const double* v = run.values.data();
            const double* end = v + run.values.size();
            // Finish the record the part before began, take whole records,
            // keep what is left for the next part.
            while (have != 0 && v < end) {
                pending[have++] = *v++;
                if (have == 3) record_done();
            }
            for (; end - v >= 3; v += 3) batch.add(v[0], v[1], v[2]);
            while (v < end) pending[have++] = *v++;
            if (run.bad_first) bad_token(run.bad_first, run.bad_last, run.bad_status);
        }
    }

    // Scans the whole tokens of [p, end).
    void scan(const char* p, const char* end)
    {
        for_each_number(
            p, end,
            [this](double v) {
                pending[have++] = v;
                if (have == 3) record_done();
            },
            [this](const char* first, const char* last, ScanStatus status) { bad_token(first, last, status); });
    }
};

// Where a block's whole tokens end: after its last white space. The bytes
// after it (a token the block cut) start the next block.
const char* last_blank_end(const char* first, const char* end)
{
    const char* cut = end;
    while (cut > first && !is_blank(cut[-1])) --cut;
    return cut;
}

// One block at a time, read and scanned in turn.
void read_in_one(InputFile& f3, TextScan& scan)
{
    std::unique_ptr<char[]> block(new char[block_size + 1]);
    std::size_t carry = 0;  // bytes of a token cut by the end of the last block
    for (;;) {
        const long n = f3.read(block.get() + carry, block_size - carry);
        if (n < 0) fail("\n\n\tFile " + scan.path + " cannot be read\n");
        if (n == 0) {
            block[carry] = ' ';  // the last token ends before the end of the buffer
            scan.scan(block.get(), block.get() + carry);
            return;
        }
        const char* first = block.get();
        const char* end = first + carry + static_cast<std::size_t>(n);
        const char* cut = last_blank_end(first, end);
        if (cut == first && end == first + block_size) scan.bad_token(first, end, ScanStatus::not_a_number);
        scan.scan(first, cut);
        carry = static_cast<std::size_t>(end - cut);
        std::memmove(block.get(), cut, carry);
    }
}

// What a reading on several threads holds besides one block's: a second
// block, the parts' numbers and the threads.
struct PartReading {
    struct Block {
        std::unique_ptr<char[]> bytes{new char[block_size + 1]};
        std::vector<TokenRun> runs;
    } blocks[2];
    PartScanner parts;  // after the blocks: gone before them

    // The parts' slots are made here, so that the reading itself allocates
    // nothing on the main thread that a reading on one thread would not.
    explicit PartReading(int threads) : parts(threads)
    {
        for (Block& b : blocks) b.runs.resize(parts.threads());
    }
};

// The threads and memory for a reading in parts, or nothing when the system
// has too little of either: the file is then read on one thread, with the
// same result.
std::unique_ptr<PartReading> prepare_parts(int threads)
{
    try {
        std::unique_ptr<PartReading> reading(new PartReading(threads));
        if (reading->parts.threads() > 0) return reading;
    } catch (const std::bad_alloc&) {
        hold_memory_for_failures();  // given back on the way here
    }
    return nullptr;
}

// The same blocks, each read in parts by the threads while the numbers of
// the block before are taken in file order: two blocks take turns. Every
// failure still comes after what precedes it in the file.
void read_in_parts(InputFile& f3, TextScan& scan, PartReading& reading)
{
    PartReading::Block* blocks = reading.blocks;
    PartScanner& parts = reading.parts;
    int current = 0;
    bool pending = false;  // the other block's parts are being read
    std::size_t carry = 0;
    auto take_pending = [&] {
        if (!pending) return;
        parts.wait();
        pending = false;
        scan.consume(blocks[1 - current].runs);
    };
    for (;;) {
        char* first = blocks[current].bytes.get();
        const long n = f3.read(first + carry, block_size - carry);
        if (n <= 0) {
            take_pending();
            if (n < 0) fail("\n\n\tFile " + scan.path + " cannot be read\n");
            first[carry] = ' ';  // the last token ends before the end of the buffer
            scan.scan(first, first + carry);
            return;
        }
        const char* end = first + carry + static_cast<std::size_t>(n);
        const char* cut = last_blank_end(first, end);
        if (cut == first && end == first + block_size) {
            take_pending();
            scan.bad_token(first, end, ScanStatus::not_a_number);
        }
        if (pending) parts.wait();
        parts.start(first, cut, blocks[current].runs);
        if (pending) scan.consume(blocks[1 - current].runs);
        pending = true;
        carry = static_cast<std::size_t>(end - cut);
        std::memcpy(blocks[1 - current].bytes.get(), cut, carry);
        current = 1 - current;
    }
}

void read_blocks(InputFile& f3, TextScan& scan, int threads)
{
    if (threads > 1)
        if (const std::unique_ptr<PartReading> reading = prepare_parts(threads)) {
            read_in_parts(f3, scan, *reading);
            return;
        }
    read_in_one(f3, scan);
}

}  // namespace

void point_reader_set_block_size(std::size_t bytes) { block_size = bytes ? bytes : default_block_size; }

std::size_t point_block_size() { return block_size; }

bool read_text(InputFile& f3, RecordBatch& batch, int threads)
{
    TextScan scan(batch);
    read_blocks(f3, scan, threads);
    return scan.have == 0;
}

void short_last_record(const RecordBatch& batch)
{
    fail("\n\n\tFile " + batch.path() + ", record " + std::to_string(batch.records() + 1) +
         " has fewer than three numbers\n");
}
