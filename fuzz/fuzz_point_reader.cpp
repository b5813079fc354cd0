// Arbitrary bytes as a point file, read through read_console_file on one, two
// or three threads and on one of the vector paths of the record reading
// (picked by a hash of the bytes): every count and path must give the same
// reading. KESTRANOV_FUZZ_SHOW=1 prints, after each input, how many records
// were read by shape so far.
//
// One input in sixteen (picked by a hash of the bytes, with the shift) is
// also read once more from a file that starts with blank lines, so that the
// reader's first 4 MiB block ends `shift` bytes into the fuzzed text: a
// token, a line end or a 0x1A then falls on the block boundary anywhere.
// Not every input: reading 4 MiB of blanks costs some fifteen times a small
// file, and a mode chosen by the input itself would let the slow inputs
// take over the corpus (their blank runs look like new coverage).
//
// Every number handed out must be strtod's reading of the matching token of
// the text (tokens split at white space, the text ending at the first 0x1A),
// and the run must stop exactly at the first token that is not a decimal
// number or not finite, or at a short last record, with the message that
// names its record. Nothing else may happen: no other error, no crash.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/fatal.h"
#include "fuzz_support.h"
#include "platform/cpu_features.h"
#include "points/point_reader.h"
#include "points/record_path.h"
#include "reference_reading.h"
#include "run/console_reading.h"

using namespace kestranov;

namespace {

constexpr std::size_t reader_block = std::size_t{4} << 20;  // the reader's block size
constexpr const char* plain_name = "c:\\images\\f\\p.xyz";
constexpr const char* padded_name = "c:\\images\\f\\big.xyz";

// The padded file: blank lines up to the 4 MiB mark, written once; each input
// then rewrites only the tail it dirtied last time.
class PaddedFile {
public:
    PaddedFile()
    {
        const auto path = fuzz::drive() / "images" / "f" / "big.xyz";
        std::filesystem::create_directories(path.parent_path());
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        fuzz::check(fd_ >= 0, "cannot create the padded file");
        pattern_.resize(reader_block);
        for (std::size_t k = 0; k < reader_block; ++k) pattern_[k] = k % 64 == 63 ? '\n' : ' ';
        put(0, pattern_.data(), reader_block);
        dirty_from_ = reader_block;
    }
    void set(std::size_t start, std::string_view payload)
    {
        if (dirty_from_ < reader_block) put(dirty_from_, pattern_.data() + dirty_from_, reader_block - dirty_from_);
        fuzz::check(ftruncate(fd_, static_cast<off_t>(start + payload.size())) == 0, "ftruncate failed");
        put(start, payload.data(), payload.size());
        dirty_from_ = start;
    }

private:
    void put(std::size_t at, const char* bytes, std::size_t n)
    {
        while (n > 0) {
            const ssize_t w = ::pwrite(fd_, bytes, n, static_cast<off_t>(at));
            fuzz::check(w > 0, "pwrite failed");
            bytes += w, at += static_cast<std::size_t>(w), n -= static_cast<std::size_t>(w);
        }
    }
    int fd_ = -1;
    std::string pattern_;
    std::size_t dirty_from_ = 0;
};

bool same_double(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Reads file m with `reading`'s threads and vector path and checks it
// against the text: every thread count must give the one reading.
void check_reading(int m, std::string_view text, const ReadingOptions& reading, const ReadingSeams& seams)
{
    std::ostringstream console;
    const std::string folder = "c:\\images\\f\\";
    const ConsoleFiles files = console_files(fuzz::drive(), folder, {"p", "big"}, reading, seams);

    std::vector<double> got;
    PointSink sink = [&](const Point* pts, std::size_t n) {
        fuzz::check(n > 0, "an empty batch");
        for (std::size_t k = 0; k < n; ++k) got.insert(got.end(), {pts[k].x, pts[k].y, pts[k].z});
    };
    const reference::Expected want = reference::expected_reading(text, m == 1 ? plain_name : padded_name);

    std::string error;
    long long records = -1;
    try {
        SeenFile seen;
        records = read_console_file(console, files, m - 1, sink, seen);
    } catch (const Fatal& e) {
        error = e.text;
    }

    const std::string which = m == 1 ? "plain file: " : "padded file: ";
    fuzz::check(error == want.error, which + "message \"" + error + "\", expected \"" + want.error + "\"");
    fuzz::check(got.size() <= want.values.size(), which + "more numbers handed out than the text holds");
    for (std::size_t k = 0; k < got.size(); ++k)
        fuzz::check(same_double(got[k], want.values[k]),
                    which + "number " + std::to_string(k) + " differs from strtod");
    if (want.error.empty()) {
        fuzz::check(got.size() == want.values.size(), which + "numbers missing");
        fuzz::check(records == static_cast<long long>(want.values.size() / 3), which + "wrong record count");
    }
}

std::uint64_t fnv1a(std::string_view bytes)
{
    std::uint64_t h = 14695981039346656037u;
    for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211u;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    write_file(fuzz::drive() / "images" / "f" / "p.xyz", text);
    const std::uint64_t h = fnv1a(text);
    ReadingOptions reading;
    reading.threads = 1 + static_cast<int>(h % 3);
    const VectorPath paths[] = {VectorPath::avx512, VectorPath::avx2, VectorPath::scalar};
    ReadingSeams seams;
    seams.path = paths[(h >> 4) % 3];  // a path this processor lacks leaves the one chosen
    check_reading(1, text, reading, seams);

    if (h % 16 == 0) {
        static PaddedFile big;
        big.set(reader_block - (h >> 8) % (size + 1), text);
        check_reading(2, text, reading, seams);
    }
    static const bool show = std::getenv("KESTRANOV_FUZZ_SHOW") != nullptr;
    if (show)
        std::fprintf(stderr, "records read by shape: %llu (%s)\n", static_cast<unsigned long long>(record_path_hits()),
                     vector_path_name(vector_path(seams.path)));
    return 0;
}
