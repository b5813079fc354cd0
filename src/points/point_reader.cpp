#include "points/point_reader.h"

#include <ostream>
#include <string>

#include "core/fatal.h"
#include "platform/drive.h"
#include "platform/input_file.h"
#include "points/las_header.h"
#include "points/las_reader.h"
#include "points/laz_reader.h"
#include "points/text_reader.h"

namespace kestranov {

namespace {

enum class Kind { text, las };

// The file as it is now, and the file its name leads to, against the file
// as first seen.
void check_unchanged(const InputFile& f3, const std::string& path, const FileIdentity& seen)
{
    if (!(f3.identity() == seen) || !(f3.identity_of_name() == seen))
        fail("\n\n\tFile " + path +
             " changed during the run: it is no longer the file of the first reading (its size, date or "
             "identity differ)\n");
}

// Opens <name>.xyz, or <name>.las when no .xyz exists, or <name>.laz when
// neither does. Only a name with no file at all passes on to the next
// extension: an .xyz that exists but cannot be opened is reported as such.
// The message for a name without a file has one line break more on the
// second reading than on the first.
Kind open_point_file(InputFile& f3, const PointFiles& files, int m, std::string& path, bool first_reading)
{
    const std::string stem = files.windows_stem(m);
    auto host = [&](const char* extension) { return host_path(files.drive_root, stem + extension); };
    InputFile::OpenStatus opened = f3.open(host(".xyz"), InputFile::Mode::text);
    Kind kind = Kind::text;
    path = stem + ".xyz";
    for (const char* binary : {".las", ".laz"}) {
        if (opened != InputFile::OpenStatus::absent) break;
        opened = f3.open(host(binary), InputFile::Mode::binary);
        if (opened != InputFile::OpenStatus::absent) kind = Kind::las, path = stem + binary;
    }
    if (opened == InputFile::OpenStatus::not_regular)
        fail("\n\n\tFile " + path +
             " is not a regular file: a point file is read twice, so it cannot be a FIFO, a socket or a device\n");
    if (opened != InputFile::OpenStatus::ok)
        fail(std::string(first_reading ? "\n" : "\n\n") + "\tFile " + (kind == Kind::las ? path : stem + ".xyz") +
             " unknown\n");
    return kind;
}

// A LAS file whose header has the compression bits is LAZ, whatever its
// name says.
void read_las_or_laz(InputFile& f3, RecordBatch& batch, int threads)
{
    unsigned char head[las_largest_header];
    const long n = f3.read(reinterpret_cast<char*>(head), sizeof head);
    if (n < 0) fail("\n\n\tFile " + batch.path() + " cannot be read\n");
    const LasHeader h = parse_las_header(head, static_cast<std::size_t>(n),
                                         static_cast<std::uint64_t>(f3.identity().size), batch.path());
    if (h.compressed()) return read_laz(f3, h, batch, threads);
    if (!f3.seek(0)) fail("\n\n\tFile " + batch.path() + " cannot be read\n");
    read_las(f3, batch);
}

}  // namespace

long long read_point_file(std::ostream& out, const PointFiles& files, int m, const PointSink& sink, SeenFile& seen,
                          bool extents_only)
{
    InputFile f3;
    const Kind kind = open_point_file(f3, files, m, seen.path, !seen.identity);
    out << "\n\n\tFile " << m << " Name : " << seen.path << "\n\n";
    out.flush();
    if (!seen.identity) seen.identity = f3.identity();
    check_unchanged(f3, seen.path, *seen.identity);

    std::unique_ptr<RecordBatch> batch(new RecordBatch(out, seen.path, sink, extents_only));
    const bool whole =
        kind == Kind::las ? (read_las_or_laz(f3, *batch, files.threads), true) : read_text(f3, *batch, files.threads);
    check_unchanged(f3, seen.path, *seen.identity);
    // Records rewritten in place, with the size and date put back, can
    // still change their number; the extents and the descriptor's range
    // would then not be those of the cells.
    if (seen.records && *seen.records != batch->records())
        fail("\n\n\tFile " + seen.path + " changed during the run: it now holds " + std::to_string(batch->records()) +
             " records, where the first reading counted " + std::to_string(*seen.records) + "\n");
    if (!whole) short_last_record(*batch);
    if (!seen.records) seen.records = batch->records();
    batch->hand_on();
    return batch->records();
}

}  // namespace kestranov
