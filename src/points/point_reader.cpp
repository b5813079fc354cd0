#include "points/point_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "core/fatal.h"
#include "platform/drive.h"
#include "platform/text_input.h"
#include "points/number_scanner.h"

namespace {

constexpr std::size_t block_size = 4 << 20;
constexpr std::ptrdiff_t parallel_at_least = 64 << 10;
constexpr long long progress_every = 100000;
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

// The numbers of one part of a block, read by a thread of their own, and
// the first bad token of the part if there is one (reading stops there).
struct TokenRun {
    std::vector<double> values;
    const char* bad_first = nullptr;
    const char* bad_last = nullptr;
    ScanStatus bad_status = ScanStatus::ok;
};

void scan_part(const char* p, const char* end, TokenRun& run)
{
    run.values.clear();
    run.bad_first = nullptr;
    for (;;) {
        while (p < end && is_blank(*p)) ++p;
        if (p == end) return;
        const char* token = p;
        ScanResult r;
        p = scan_token(token, end, r);
        if (r.status != ScanStatus::ok) {
            run.bad_first = token, run.bad_last = p, run.bad_status = r.status;
            return;
        }
        run.values.push_back(r.value);
    }
}

struct FileScan {
    FileScan(std::ostream& console, const std::string& windows_path, const PointSink& to)
        : out(console), path(windows_path), sink(to)
    {
    }

    std::ostream& out;
    const std::string& path;
    const PointSink& sink;
    long long ico = 0;
    double pending[3] = {0, 0, 0};
    int have = 0;  // numbers of the record being read
    Point batch[point_batch] = {};
    std::size_t batched = 0;
    std::vector<TokenRun> parts;

    [[noreturn]] void bad_token(const char* first, const char* last, ScanStatus status)
    {
        const std::size_t n = static_cast<std::size_t>(last - first);
        std::string shown;
        for (std::size_t k = 0; k < std::min(n, shown_token); ++k) shown += printable(first[k]);
        if (n > shown_token) shown += "...";
        fail("\n\n\tFile " + path + ", record " + std::to_string(ico + 1) + ": \"" + shown + "\" is " +
             (status == ScanStatus::not_finite ? "not a finite number\n" : "not a number\n"));
    }

    void record_done()
    {
        batch[batched++] = {pending[0], pending[1], pending[2]};
        have = 0;
        if (++ico % progress_every == 0) {
            out << "\tregister " << ico << "                    \r    ";
            out.flush();
        }
        if (batched == point_batch) hand_on();
    }

    void hand_on()
    {
        if (batched) sink(batch, batched);
        batched = 0;
    }

    // The numbers of a part in file order, then its bad token if any: the
    // records, progress lines and messages come out as if read in one go.
    void consume(const TokenRun& run)
    {
        for (double v : run.values) {
            pending[have++] = v;
            if (have == 3) record_done();
        }
        if (run.bad_first) bad_token(run.bad_first, run.bad_last, run.bad_status);
    }

    // Scans the whole tokens of [p, end) on `threads` threads: the range is
    // cut at white space into one part per thread, the parts are read at
    // once and their numbers taken in file order.
    void scan_in_parts(const char* p, const char* end, int threads)
    {
        parts.resize(static_cast<std::size_t>(threads));
        std::vector<const char*> cuts(static_cast<std::size_t>(threads) + 1, end);
        cuts[0] = p;
        for (int k = 1; k < threads; ++k) {
            const char* c = std::max(cuts[static_cast<std::size_t>(k) - 1], p + (end - p) / threads * k);
            while (c < end && !is_blank(*c)) ++c;
            cuts[static_cast<std::size_t>(k)] = c;
        }
        std::vector<std::thread> helpers;
        for (int k = 1; k < threads; ++k)
            helpers.emplace_back(scan_part, cuts[static_cast<std::size_t>(k)], cuts[static_cast<std::size_t>(k) + 1],
                                 std::ref(parts[static_cast<std::size_t>(k)]));
        scan_part(cuts[0], cuts[1], parts[0]);
        for (std::thread& h : helpers) h.join();
        for (const TokenRun& run : parts) {
            consume(run);
            if (run.bad_first) return;
        }
    }

    // Scans the whole tokens of [p, end).
    void scan(const char* p, const char* end)
    {
        for (;;) {
            while (p < end && is_blank(*p)) ++p;
            if (p == end) return;
            const char* token = p;
            ScanResult r;
            p = scan_token(token, end, r);
            if (r.status != ScanStatus::ok) bad_token(token, p, r.status);
            pending[have++] = r.value;
            if (have == 3) record_done();
        }
    }
};

}  // namespace

std::optional<long long> read_point_file(std::ostream& out, const PointFiles& files, int m, const PointSink& sink)
{
    const std::string path = files.windows_path(m);
    TextInput f3;
    if (f3.open(host_path(files.drive_root, path)) != TextInput::OpenStatus::ok) return std::nullopt;
    out << "\n\n\tFile " << m << " Name : " << path << "\n\n";
    out.flush();

    std::unique_ptr<FileScan> scan(new FileScan(out, path, sink));
    std::unique_ptr<char[]> block(new char[block_size]);
    std::size_t carry = 0;  // bytes of a token cut by the end of the last block
    for (;;) {
        long n = f3.read(block.get() + carry, block_size - carry);
        if (n < 0) fail("\n\n\tFile " + path + " cannot be read\n");
        if (n == 0) {
            scan->scan(block.get(), block.get() + carry);
            break;
        }
        const char* first = block.get();
        const char* end = first + carry + static_cast<std::size_t>(n);
        const char* cut = end;
        while (cut > first && !is_blank(cut[-1])) --cut;
        if (cut == first && end == first + block_size) scan->bad_token(first, end, ScanStatus::not_a_number);
        // Small ranges (the end of a file) are not worth the threads.
        if (files.threads > 1 && cut - first >= parallel_at_least)
            scan->scan_in_parts(first, cut, files.threads);
        else
            scan->scan(first, cut);
        carry = static_cast<std::size_t>(end - cut);
        std::memmove(block.get(), cut, carry);
    }
    if (scan->have != 0)
        fail("\n\n\tFile " + path + ", record " + std::to_string(scan->ico + 1) + " has fewer than three numbers\n");
    scan->hand_on();
    return scan->ico;
}
