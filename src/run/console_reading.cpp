#include "run/console_reading.h"

#include <ostream>
#include <string_view>

#include "core/fatal.h"
#include "core/messages.h"
#include "core/run_state.h"
#include "platform/drive.h"
#include "points/extent_pass.h"
#include "run/reading_words.h"

namespace kestranov {

namespace {

// A name as the host reads it: the backslashes of the dialogue are folder separators.
std::string host_name(std::string name)
{
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

}  // namespace

// The folder held once, on the host as in the dialogue, where a name
// follows the host folder as it follows the Windows one; else (a folder
// shorter than c:\ , whose drive prefix a name would complete) each file's
// whole path, which is then short.
ConsoleFiles console_files(const std::filesystem::path& drive_root, const std::string& folder,
                           const std::vector<std::string>& names, const ReadingOptions& reading,
                           const ReadingSeams& seams)
{
    ConsoleFiles c{folder, names, {host_path(drive_root, folder).string(), {}, reading, seams}};
    const auto followed = [](std::string path) { return path += 'n'; };
    const bool held_once =
        folder.size() >= 3 && host_path(drive_root, followed(folder)).string() == followed(c.files.folder);
    if (!held_once) c.folder.clear(), c.files.folder.clear();
    for (std::string& name : c.names) {
        if (!held_once) name.insert(0, folder);
        c.files.names.push_back(held_once ? host_name(name) : host_path(drive_root, name).string());
    }
    return c;
}

ConsoleFiles console_files(const RunState& st)
{
    std::vector<std::string> names;
    for (int m = 1; m <= st.numlay; ++m) names.push_back(st.files[static_cast<std::size_t>(m)].nombre);
    return console_files(st.drive_root, st.nomgen, names, st.reading, st.seams);
}

// The found file shares its folder with the name it was looked for by, and
// the host name differs from the Windows one only before that: the part of
// the Windows name past what the two share gives way to the found file's
// ending.
std::string console_name(const ConsoleFiles& names, int k, const std::string& found)
{
    const auto i = static_cast<std::size_t>(k);
    const std::string& folder = names.files.folder;
    if (found.compare(0, folder.size(), folder) != 0) return found;
    const std::string_view tail = std::string_view(found).substr(folder.size());
    const std::string& host = names.files.names[i];
    const std::string& typed = names.names[i];
    std::size_t shared = 0;
    while (shared < host.size() && shared < tail.size() && host[shared] == tail[shared]) ++shared;
    const std::size_t dropped = host.size() - shared;
    if (dropped > typed.size()) return found;
    std::string name = names.folder;
    name.append(typed, 0, typed.size() - dropped).append(tail.substr(shared));
    return name;
}

void ConsoleReading::file_opened(int index, const std::string& path)
{
    *out_ << "\n\n\tFile " << index + 1 << " Name : " << console_name(*names_, index, path) << "\n\n";
    out_->flush();
}

void ConsoleReading::records_read(long long records, double /*part*/)
{
    *out_ << "\tregister " << records << "                    \r    ";
    out_->flush();
}

void show_first_total(std::ostream& out, long long records)
{
    out << "\n\n\tFirst Lecture "
        << "\n\n\t\tTotal number of registers = " << records << " \n";
}

std::string console_text(const ReadError& e, const ConsoleFiles* names)
{
    const bool named = names && e.file >= 0 && e.file < names->files.count();
    const std::string p = named ? console_name(*names, e.file, e.path) : e.path;
    switch (e.fault) {
        case ReadFault::cannot_be_read:
            return file_cannot_be_read(p);
        case ReadFault::unknown:
            return file_unknown(p, e.first_reading);
        case ReadFault::not_regular:
            return file_not_regular(p);
        case ReadFault::refused:
            return file_refused(p, refusal_words(e.refusal));
        case ReadFault::not_a_number:
            return record_not_a_number(p, e.record, e.token, e.not_finite);
        case ReadFault::record_short:
            return record_short(p, e.record);
        case ReadFault::beyond_double:
            return point_beyond_double(p, static_cast<std::uint64_t>(e.record));
        case ReadFault::points_missing:
            return points_missing(p, e.record, e.expected);
        case ReadFault::las_records_too_short:
            return las_records_too_short(p, static_cast<std::size_t>(e.bytes), static_cast<std::size_t>(e.needed));
        case ReadFault::las_records_after_points:
            return las_records_after_points(p, static_cast<std::uint64_t>(e.record), e.expected);
        case ReadFault::laz_table_beyond_end:
            return laz_table_beyond_end(p, e.bytes, e.at);
        case ReadFault::laz_table_cut:
            return laz_table_cut(p, e.at);
        case ReadFault::laz_table_pointer_lost:
            return laz_table_pointer_lost(p, e.pointer, e.bytes);
        case ReadFault::replaced:
            return file_replaced(p);
        case ReadFault::reads_otherwise:
            return file_reads_otherwise(p);
        case ReadFault::las_header_changed:
            return las_header_changed(p, header_field_words(e.field), e.now, e.first);
        case ReadFault::record_count_changed:
            return record_count_changed(p, e.record, static_cast<long long>(e.expected));
        case ReadFault::point_outside_first_extents:
            return point_outside_first_extents(p, e.x, e.y, e.z, e.with_z);
    }
    return unexpected_failure("a reading failed");
}

long long read_console_file(std::ostream& out, const ConsoleFiles& files, int k, const PointSink& sink, SeenFile& seen,
                            Wanted wanted)
{
    ConsoleReading lines(out, files);
    try {
        return read_point_file(lines, files.files, k, sink, seen, wanted);
    } catch (const ReadError& e) {
        fail(console_text(e, &files));
    }
}

Extents console_extent_pass(std::ostream& out, const ConsoleFiles& files, SeenFiles& seen, Wanted wanted)
{
    ConsoleReading lines(out, files);
    ExtentReading found;
    try {
        found = extent_pass(lines, files.files, seen, wanted);
    } catch (const ReadError& e) {
        fail(console_text(e, &files));
    }
    show_first_total(out, found.records);
    if (!found.range.any()) fail(no_point_at_all());
    return found.range.extents();
}

}  // namespace kestranov
