#include "points/point_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/input_file.h"
#include "points/las_header.h"
#include "points/las_reader.h"
#include "points/laz_reader.h"
#include "points/point_decoder.h"
#include "points/read_error.h"
#include "points/text_reader.h"

namespace kestranov {

namespace {

// A point-file format: the extension that names it, how its file is opened,
// and its decoder. A format may also claim a file of another name by its
// first bytes, and may be unable to filter its records (nothing in them to
// filter by). Adding a format is its decoder's file and one row.
struct PointFormat {
    const char* extension;
    InputFile::Mode mode;
    PointDecoder decode;
    bool (*claims)(const unsigned char* head, std::size_t n);
    RefusalReason unfiltered = RefusalReason::none;  // why a filter cannot apply; none: it can
};

constexpr std::size_t sniffed_bytes = 128;

// In the order a name looks for its file.
constexpr PointFormat formats[] = {
    {".xyz", InputFile::Mode::text, read_text, nullptr, RefusalReason::text_unfiltered},
    {".las", InputFile::Mode::binary, read_las, las_uncompressed},
    {".laz", InputFile::Mode::binary, read_laz, las_compressed},
};

bool same_extension(std::string_view name, std::string_view extension)
{
    return name.size() >= extension.size() &&
           std::equal(extension.begin(), extension.end(), name.end() - static_cast<std::ptrdiff_t>(extension.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

// The file a name leads to: its path and its format.
struct Found {
    std::string path;
    const PointFormat* format = nullptr;
};

// The file `stem` + the format's extension, the extension in any case
// (a.LAS, a.Xyz); the case typed first.
std::optional<Found> with_extension(const std::string& stem, const PointFormat& f, const std::string& typed)
{
    if (input_exists(typed)) return Found{typed, &f};
    const std::filesystem::path stem_path(stem);
    const std::string base = stem_path.filename().string();
    for (const std::string& name : names_beginning_with(stem_path.parent_path(), base))
        if (name.size() == base.size() + std::strlen(f.extension) && same_extension(name, f.extension)) {
            const std::string other = stem + name.substr(base.size());
            if (input_exists(other)) return Found{other, &f};
        }
    return std::nullopt;
}

// Point file m as its name finds it now: the name itself when it ends in a
// format's extension (in any case), else the name with each extension in
// turn. Only a name with no file at all passes on to the next candidate.
std::optional<Found> find_point_file(const PointFiles& files, int m)
{
    const std::string stem = files.path_of(m);
    for (const PointFormat& f : formats)
        if (same_extension(stem, f.extension))
            if (auto found = with_extension(stem.substr(0, stem.size() - std::strlen(f.extension)), f, stem))
                return found;
    for (const PointFormat& f : formats)
        if (auto found = with_extension(stem, f, stem + f.extension)) return found;
    return std::nullopt;
}

[[noreturn]] void changed(const std::string& path) { throw ReadError{.fault = ReadFault::replaced, .path = path}; }

// The file as it is now, and the file its name leads to, against the file
// as first seen.
void check_unchanged(const InputFile& f3, const std::string& path, const FileIdentity& seen)
{
    if (!(f3.identity() == seen) || !(f3.identity_of_name() == seen)) changed(path);
}

// The name a missing point file is told by: as typed when it ends in a
// format's extension (the user named that file), else with .xyz, the
// format the console asks for.
std::string missing_name(const std::string& stem)
{
    for (const PointFormat& f : formats)
        if (same_extension(stem, f.extension)) return stem;
    return stem + ".xyz";
}

// Opens point file m and gives its format; null on the second reading when
// the name now finds another file than the first reading read, which is
// never read. The message for a name without a file has one line break
// more on the second reading than on the first; the second reading names
// the file of the first.
const PointFormat* open_point_file(InputFile& f3, const PointFiles& files, int m, SeenFile& seen)
{
    const bool first_reading = !seen.identity;
    const std::optional<Found> found = find_point_file(files, m);
    if (!found)
        throw ReadError{.fault = ReadFault::unknown,
                        .path = first_reading ? missing_name(files.path_of(m)) : seen.path,
                        .first_reading = first_reading};
    if (!first_reading && found->path != seen.path) return nullptr;
    seen.path = found->path;
    const InputFile::OpenStatus opened = f3.open(found->path, found->format->mode);
    if (opened == InputFile::OpenStatus::not_regular)
        throw ReadError{.fault = ReadFault::not_regular, .path = seen.path};
    if (opened != InputFile::OpenStatus::ok)
        throw ReadError{.fault = ReadFault::unknown, .path = seen.path, .first_reading = first_reading};
    return found->format;
}

// The format that reads an open binary file: one that claims it by its
// first bytes (a LAS header says whether its points are compressed), else
// `named`.
const PointFormat& format_by_content(InputFile& f3, const PointFormat& named, const std::string& path)
{
    if (named.mode != InputFile::Mode::binary) return named;
    unsigned char head[sniffed_bytes];
    const long n = f3.read(reinterpret_cast<char*>(head), sizeof head);
    if (n < 0 || !f3.seek(0)) throw ReadError{.fault = ReadFault::cannot_be_read, .path = path};
    for (const PointFormat& f : formats)
        if (f.claims && f.claims(head, static_cast<std::size_t>(n))) return f;
    return named;
}

// The part of the file `records` are: of the header's count for LAS and
// LAZ (known from the header onwards); of the bytes for text, which the
// reading may have read ahead of the records handed on.
double part_read(const InputFile& f3, const SeenFile& seen, long long records)
{
    if (seen.first.las)
        return seen.first.las->count ? static_cast<double>(records) / static_cast<double>(seen.first.las->count) : -1;
    const auto size = static_cast<double>(seen.identity->size);
    return size > 0 ? std::min(1.0, static_cast<double>(f3.position()) / size) : -1;
}

// How the input ended, told once the file is known not to have changed.
void report_end(const InputEnd& end, const RecordBatch& batch)
{
    if (end.kind == InputEnd::Kind::short_record)
        throw ReadError{.fault = ReadFault::record_short, .path = batch.path(), .record = batch.records() + 1};
    if (end.kind == InputEnd::Kind::cut)
        throw ReadError{.fault = ReadFault::points_missing,
                        .path = batch.path(),
                        .record = batch.records(),
                        .expected = end.announced};
}

}  // namespace

bool bounds_from_headers(const SeenFiles& seen)
{
    return std::any_of(seen.begin(), seen.end(), [](const SeenFile& f) { return f.first.header_bounds.has_value(); });
}

bool headers_held(const SeenFiles& seen)
{
    return std::all_of(seen.begin(), seen.end(),
                       [](const SeenFile& f) { return !f.first.header_bounds || f.first.header_bounds->held; });
}

bool fits_the_records(double cells, const SeenFiles& seen)
{
    double records = 0;
    for (const SeenFile& f : seen) records += static_cast<double>(f.records.value_or(0));
    return cells <= 8 * records + (1 << 20);
}

namespace {

long long read_one(ReadingEvents& events, const PointFiles& files, int m, const PointSink& sink, SeenFile& seen,
                   Wanted wanted)
{
    InputFile f3;
    const PointFormat* named = open_point_file(f3, files, m, seen);
    events.file_opened(m, seen.path);
    if (!named) changed(seen.path);
    if (!seen.identity) seen.identity = f3.identity();
    check_unchanged(f3, seen.path, *seen.identity);
    const PointFormat& format = format_by_content(f3, *named, seen.path);
    const bool filtered = files.reading.filter.active();
    if (filtered && format.unfiltered != RefusalReason::none) refuse(seen.path, {format.unfiltered});

    seen.tally = {};
    const std::function<void(long long)> progress = [&](long long records) {
        events.records_read(records, part_read(f3, seen, records));
    };
    std::unique_ptr<RecordBatch> batch(
        new RecordBatch(seen.path, sink, wanted, filtered ? &files.reading.filter : nullptr, progress));
    const InputEnd end = [&] {
        try {
            return format.decode(f3, *batch, files.reading, files.seams, seen.first);
        } catch (const ReadError&) {
            // A record that is no record may be bytes the file did not hold
            // when it was opened (grown while read): the change is what the
            // user must hear of, not the bytes it brought.
            check_unchanged(f3, seen.path, *seen.identity);
            throw;
        }
    }();
    seen.tally = batch->tally();
    check_unchanged(f3, seen.path, *seen.identity);
    // Records rewritten in place, with the size and date put back, can
    // still change their number; the extents and the descriptor's range
    // would then not be those of the cells.
    if (seen.records && *seen.records != batch->records())
        throw ReadError{.fault = ReadFault::record_count_changed,
                        .path = seen.path,
                        .record = batch->records(),
                        .expected = static_cast<std::uint64_t>(*seen.records)};
    report_end(end, *batch);
    if (!seen.records) seen.records = batch->records();
    batch->hand_on();
    events.file_read(m, batch->records());
    return batch->records();
}

}  // namespace

long long read_point_file(ReadingEvents& events, const PointFiles& files, int k, const PointSink& sink, SeenFile& seen,
                          Wanted wanted)
{
    try {
        return read_one(events, files, k, sink, seen, wanted);
    } catch (ReadError& e) {
        e.file = k;  // which of the list's files, for a front end that names them its own way
        throw;
    }
}

}  // namespace kestranov
