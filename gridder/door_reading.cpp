#include "gridder/door_reading.h"

#include <algorithm>
#include <thread>

#include "gridder/gdal_module.h"

namespace kestranov::gridder {

PointFiles door_files(const std::vector<std::string>& paths, const ReadingOptions& reading)
{
    return {"", paths, reading};
}

void DoorProgress::file_opened(int index, const std::string& /*path*/)
{
    progress_->file(index + 1, files_->count(), files_->names[static_cast<std::size_t>(index)], before_);
}

void DoorProgress::records_read(long long records, double part) { progress_->records(records, part); }

void DoorProgress::file_read(int /*index*/, long long records) { before_ += records; }

ReadingOptions reading_of(const GridOptions& o)
{
    ReadingOptions r;
    r.threads = o.threads > 0 ? o.threads : std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 64);
    r.filter = o.filter;
    return r;
}

long long read_all(ReadingEvents& events, const PointFiles& files, SeenFiles& seen, Wanted wanted,
                   const PointSink& sink)
{
    // The door counts every record, also where a LAS file hands on only
    // the corners of its records to the extent pass, and those the filters drop.
    long long total = 0;
    seen.resize(files.names.size());
    for (int k = 0; k < files.count(); ++k)
        total += read_point_file(events, files, k, sink, seen[static_cast<std::size_t>(k)], wanted);
    return total;
}

std::vector<KeptFile> inputs_of(const SeenFiles& seen)
{
    std::vector<KeptFile> kept;
    for (const SeenFile& f : seen)
        if (f.identity) kept.push_back({*f.identity, f.path});
    return kept;
}

CrsChoice choose_crs(const GridOptions& o, const SeenFiles& seen)
{
    CrsChoice choice;
    if (o.srs) {
        choice.crs = gdal().crs_from_user(*o.srs);
        choice.typed = true;
        return choice;
    }
    std::string first_file;
    for (const SeenFile& s : seen) {
        std::optional<Crs> crs;
        try {
            // A file without coordinate system records needs no GDAL.
            if (s.first.las && !s.first.crs.empty()) crs = gdal().crs_of_file(s.first.crs);
        } catch (const CrsUnreadable& e) {
            if (choice.unreadable.empty()) choice.unreadable_why = e.what();
            choice.unreadable.push_back(s.path);
            continue;
        } catch (const CrsError& e) {
            throw CrsError(s.path + ": " + e.what() + " (--srs sets the coordinate system instead)");
        }
        if (!crs) {
            choice.without_crs.push_back(s.path);
        } else if (!choice.crs) {
            choice.crs = crs, first_file = s.path;
        } else if (!gdal().same_crs(*choice.crs, *crs)) {
            throw CrsError(first_file + " and " + s.path + " hold different coordinate systems (" + choice.crs->name +
                           "; " + crs->name + "): --srs chooses one");
        }
    }
    return choice;
}

namespace {

// "the coordinate system record of a.las", or of the first of several files.
std::string unreadable_records(const CrsChoice& c)
{
    const std::size_t n = c.unreadable.size();
    if (n == 1) return "the coordinate system record of " + c.unreadable.front();
    return "the coordinate system records of " + std::to_string(n) + " files (the first: " + c.unreadable.front() + ")";
}

}  // namespace

std::string why_no_crs(const CrsChoice& c)
{
    if (c.unreadable.empty()) return "the files hold none; --srs sets one";
    return unreadable_records(c) + " cannot be read; --srs sets one";
}

std::string unreadable_warning(const CrsChoice& c, const std::string& outputs)
{
    if (c.unreadable.empty() || c.typed) return "";
    const std::size_t more = c.unreadable.size() - 1;
    std::string line = "warning: " + c.unreadable.front() + ": " + c.unreadable_why;
    if (more) line += ", nor those of " + std::to_string(more) + (more == 1 ? " other file" : " other files");
    if (c.crs)
        return line + "; " + (more ? "their" : "its") + " points are taken to be in the other files' system, " +
               c.crs->name;
    return line + "; " + outputs + " without a coordinate system (--srs sets one)";
}

std::string unreadable_note(const CrsChoice& c)
{
    if (c.unreadable.empty() || !c.crs || c.typed) return "";
    return "note: " + unreadable_records(c) + " cannot be read; taken to be the other files' system\n";
}

}  // namespace kestranov::gridder
