#include "points/text_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/fatal.h"
#include "points/block_pipeline.h"
#include "points/number_scanner.h"
#include "points/part_scanner.h"
#include "points/text_scanner.h"

namespace kestranov {

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

// Values are taken from the scanner a chunk at a time: a few batches,
// small enough to stay in the first-level caches.
constexpr std::size_t chunk_values = 3 * point_batch + 4;
static_assert(sizeof(Point) == 3 * sizeof(double), "a point is its three values");

struct TextScan {
    explicit TextScan(RecordBatch& records) : batch(records), path(records.path()) {}

    RecordBatch& batch;
    const std::string& path;
    double pending[3] = {0, 0, 0};
    int have = 0;  // numbers of the record being read
    std::unique_ptr<double[]> chunk{new double[chunk_values]};
    ShapeCache shapes;

    [[noreturn]] void bad_token(const char* first, const char* last, ScanStatus status)
    {
        const std::size_t n = static_cast<std::size_t>(last - first);
        std::string shown;
        for (std::size_t k = 0; k < std::min(n, shown_token); ++k) shown += printable(first[k]);
        if (n > shown_token) shown += "...";
        fail("\n\n\tFile " + path + ", record " + std::to_string(batch.records() + 1) + ": \"" + shown + "\" is " +
             (status == ScanStatus::not_finite ? "not a finite number\n" : "not a number\n"));
    }

    // Values in file order: the record the last ones began is finished,
    // whole records go to the batch, what is left waits for the next values.
    void take(const double* v, std::size_t count)
    {
        const double* end = v + count;
        while (have != 0 && v < end) {
            pending[have++] = *v++;
            if (have == 3) {
                have = 0;
                batch.add(pending[0], pending[1], pending[2]);
            }
        }
        while (end - v >= 3) {
            std::size_t n = static_cast<std::size_t>(end - v) / 3;
            Point* room = batch.room(n);
            std::memcpy(static_cast<void*>(room), v, n * sizeof(Point));
            batch.added(n);
            v += 3 * n;
        }
        while (v < end) pending[have++] = *v++;
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
            take(run.scanned.values.get(), run.scanned.count);
            const BadToken& bad = run.scanned.bad;
            if (bad.first) bad_token(bad.first, bad.last, bad.status);
        }
    }

    // Scans the whole tokens of [p, end).
    void scan(const char* p, const char* end)
    {
        for (;;) {
            std::size_t n = 0;
            BadToken bad;
            p = scan_values(p, end, chunk.get(), chunk_values, n, bad, shapes);
            take(chunk.get(), n);
            if (bad.first) bad_token(bad.first, bad.last, bad.status);
            if (p == end) return;
        }
    }
};

// One block at a time, read and scanned in turn.
void read_in_one(InputFile& f3, TextScan& scan)
{
    std::unique_ptr<char[]> block = new_text_block(block_size);
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

// The blocks as the reading thread hands them on, taken in file order.
void read_ahead(BlockPipeline& blocks, TextScan& scan)
{
    for (;;) {
        const BlockPipeline::Block& b = blocks.next();
        if (b.end == BlockPipeline::Block::End::unreadable) fail("\n\n\tFile " + scan.path + " cannot be read\n");
        if (b.end == BlockPipeline::Block::End::token_too_long)
            scan.bad_token(b.first, b.last, ScanStatus::not_a_number);
        scan.consume(b.runs);
        const bool last = b.end == BlockPipeline::Block::End::last;
        blocks.release();
        if (last) return;
    }
}

// On several threads when the system gives them and the memory for them;
// otherwise on this one, with the same result.
void read_blocks(InputFile& f3, TextScan& scan, int threads)
{
    if (threads > 1)
        if (const std::unique_ptr<BlockPipeline> blocks = BlockPipeline::start(f3, block_size, threads)) {
            read_ahead(*blocks, scan);
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

}  // namespace kestranov
