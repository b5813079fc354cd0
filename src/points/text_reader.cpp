#include "points/text_reader.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/cpu_features.h"
#include "points/block_pipeline.h"
#include "points/block_source.h"
#include "points/number_scanner.h"
#include "points/part_scanner.h"
#include "points/read_error.h"
#include "points/text_scanner.h"

namespace kestranov {

namespace {

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
    TextScan(RecordBatch& records, VectorPath vector) : batch(records), path(records.path()) { shapes.path = vector; }

    RecordBatch& batch;
    const std::string& path;
    double pending[3] = {0, 0, 0};
    int have = 0;  // numbers of the record being read
    std::unique_ptr<double[]> chunk{new double[chunk_values]};
    ShapeCache shapes;
    const std::atomic<bool>* file_cut = nullptr;  // of the block being read

    // A file cut shorter under a block read from its mapping: what the
    // block's zeros gave is no record of it, whatever it looked like.
    void check_not_cut()
    {
        if (file_cut && file_cut->load(std::memory_order_acquire))
            throw ReadError{.fault = ReadFault::replaced, .path = path};
    }

    [[noreturn]] void bad_token(const char* first, const char* last, ScanStatus status)
    {
        check_not_cut();
        const std::size_t n = static_cast<std::size_t>(last - first);
        std::string shown;
        for (std::size_t k = 0; k < std::min(n, shown_token); ++k) shown += printable(first[k]);
        if (n > shown_token) shown += "...";
        throw ReadError{.fault = ReadFault::not_a_number,
                        .path = path,
                        .record = batch.records() + 1,
                        .token = shown,
                        .not_finite = status == ScanStatus::not_finite};
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

    // A fault the block source met, in its place in the file.
    void check(const ByteBlock& b)
    {
        file_cut = b.file_cut;
        check_not_cut();
        if (b.end == ByteBlock::End::unreadable) throw ReadError{.fault = ReadFault::cannot_be_read, .path = path};
        if (b.end == ByteBlock::End::token_too_long) bad_token(b.first, b.cut, ScanStatus::not_a_number);
    }

    // The numbers of the parts in file order, up to the first bad token: the
    // records, progress lines and messages come out as if read in one go.
    void consume(const std::vector<TokenRun>& runs)
    {
        for (const TokenRun& run : runs) {
            if (run.out_of_memory) {
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

// On one thread the text is taken a quarter of a megabyte at a time, which
// the second-level cache holds from the search for 0x1A (or the copy out of
// the page cache, where the file is read instead of mapped) through the
// scanning; a long token still has a whole block. Two threads keep whole
// blocks read into their buffers: there a quarter of a megabyte, mapped or
// read, took 0.18 s of wall time on the 5M cloud against 0.15 s (sixteen
// times the hand-offs, and each unmapping stops the other core to flush its
// cached mappings), and 4 MiB windows mapped measured the same as reading.
constexpr std::size_t text_step = 256 << 10;

// One block at a time, read and scanned in turn, in one buffer.
void read_in_one(BlockSource& source, TextScan& scan)
{
    const BlockBuffer block = source.new_block();
    source.read([&] { return block.get(); },
                [&](const ByteBlock& b) {
                    scan.check(b);
                    scan.scan(b.first, b.cut);
                    scan.check_not_cut();
                });
}

// The blocks as the pipeline hands them on, taken in file order.
void read_ahead(BlockPipeline& blocks, TextScan& scan)
{
    for (;;) {
        const BlockPipeline::Block& b = blocks.next();
        scan.check(b.bytes);
        scan.consume(b.runs);
        scan.scan(b.rest, b.bytes.cut);
        scan.check_not_cut();
        const bool last = b.bytes.end == ByteBlock::End::last;
        blocks.release();
        if (last) return;
    }
}

}  // namespace

InputEnd read_text(InputFile& f, RecordBatch& batch, const ReadingOptions& options, const ReadingSeams& seams,
                   FirstReading& /*first*/)
{
    TextScan scan(batch, vector_path(seams.path));
    ReadingFaults faults(seams);
    // On several threads when the file is large enough for them to pay and
    // the system gives them and the memory for them; otherwise on this one,
    // with the same result.
    if (options.threads > 1 && f.size() >= seams.threads_from_bytes) {
        BlockSource source(f, seams.block_size);
        if (const std::unique_ptr<BlockPipeline> blocks =
                BlockPipeline::start(source, options.threads, seams.path, faults)) {
            read_ahead(*blocks, scan);
            return {scan.have == 0 ? InputEnd::Kind::whole : InputEnd::Kind::short_record};
        }
    }
    BlockSource source(f, seams.block_size, text_step, 1);
    read_in_one(source, scan);
    return {scan.have == 0 ? InputEnd::Kind::whole : InputEnd::Kind::short_record};
}

}  // namespace kestranov
