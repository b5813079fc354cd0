#include "gridder/grid_app.h"

#include <new>

#include "core/fatal.h"
#include "core/version.h"
#include "gridder/crs.h"
#include "gridder/gdal_module.h"
#include "gridder/grid_options.h"
#include "gridder/grid_output.h"
#include "gridder/grid_run.h"
#include "gridder/like_console.h"
#include "gridder/point_inputs.h"
#include "gridder/tile_run.h"
#include "gridder/tile_stamps.h"
#include "models/companion_run.h"
#include "models/model_error.h"
#include "points/read_error.h"
#include "run/console_reading.h"

namespace kestranov::gridder {
namespace {

constexpr const char* program = "kestranov-grid";

// A message of the reading door or the writers, made for the console's
// screen ("\n\n\tFile a.las ...\n"), as one line.
std::string as_one_line(const std::string& console_text)
{
    std::string line;
    bool space = false;
    for (const char c : console_text) {
        if (c == '\n' || c == '\t' || c == '\r' || c == ' ') {
            space = !line.empty();
            continue;
        }
        if (space) line += ' ';
        space = false;
        line += c;
    }
    return models::one_line(line);
}

void warn(std::ostream& err, const std::string& warning)
{
    if (!warning.empty()) err << program << ": " << models::one_line(warning) << "\n";
}

int failed(std::ostream& err, const std::string& message)
{
    err << program << ": " << models::one_line(message) << "\n";
    return 1;
}

int usage_failed(std::ostream& err, const UsageError& e)
{
    err << program << ": " << models::one_line(e.what()) << " (" << program << " --help shows the usage)\n";
    return 2;
}

// A folder's files left out (--skip-unreadable): each told on standard
// error as it is found, and again in the summary, since a log may keep one
// and not the other.
std::string skipped_lines(const std::vector<std::string>& skipped)
{
    std::string lines;
    for (const std::string& s : skipped) lines += "skipped " + models::one_line(s) + " (--skip-unreadable)\n";
    return lines;
}

}  // namespace

int run_grid(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal)
{
    GridOptions o;
    try {
        o = parse_grid_arguments(args);
        if (o.srs && !o.help && !o.version) {
            const std::optional<Crs> crs = gdal().crs_from_user(*o.srs);
            if (!crs) throw UsageError("--srs: GDAL knows no coordinate system '" + *o.srs + "'");
            // A vertical or geocentric system has no plane to lay cells in.
            if (!crs->horizontal)
                throw UsageError("--srs: '" + *o.srs + "' is neither a projected nor a geographic system");
        }
    } catch (const UsageError& e) {
        return usage_failed(err, e);
    } catch (const GdalModuleError& e) {
        return failed(err, e.what());
    }
    if (o.help) {
        out << grid_usage();
        return 0;
    }
    if (o.version) {
        out << program << ' ' << project_version << "\n";
        return 0;
    }
    try {
        if (o.mosaic) {
            const std::string plan = mosaic_step(o);
            if (!o.quiet) out << plan;
            return 0;
        }
        // Known before a point is read: a long run would otherwise end on it.
        if (!o.tile_size) require_output_folder(o.output);
        // A job's files as its plan saw them, or no tile.
        if (o.job) check_planned_files(o);
        const InputList inputs = point_files(o.inputs, o.skip_unreadable);
        for (const std::string& s : inputs.skipped) warn(err, "warning: skipped " + s);
        const std::vector<std::string>& files = inputs.files;
        const std::string skipped = skipped_lines(inputs.skipped);
        std::ostream* const progress = terminal && !o.quiet ? &err : nullptr;
        if (o.tile_size) {
            const WrittenPlan plan = write_tile_plan(o, files, progress);
            warn(err, plan.warning);
            if (!o.quiet) out << plan.summary << skipped;
            return 0;
        }
        const GridReport report = o.like_console ? console_grid(o, files) : make_grid(o, files, progress);
        if (o.job) {
            // The plan told of the files' systems once; a job's log is its one line.
            const std::string line = finish_tile_job(o, report);
            if (!o.quiet) out << line;
            return 0;
        }
        warn(err, unreadable_warning(report.system, "the DEM is written"));
        if (!o.quiet) out << summary(o, report) << skipped;
        return 0;
    } catch (const UsageError& e) {
        // Known only once the points are read: a plan of too many tiles.
        return usage_failed(err, e);
    } catch (const Fatal& e) {
        err << program << ": " << as_one_line(e.text) << "\n";
        return 1;
    } catch (const ReadError& e) {
        // The reading's facts in the words the console has for them, as one line.
        err << program << ": " << as_one_line(console_text(e)) << "\n";
        return 1;
    } catch (const InputError& e) {
        return failed(err, e.what());
    } catch (const CrsError& e) {
        return failed(err, e.what());
    } catch (const models::ModelError& e) {
        return failed(err, e.what());
    } catch (const GdalModuleError& e) {
        return failed(err, e.what());
    } catch (const std::bad_alloc&) {
        return failed(err, "not enough memory for the grid");
    }
}

}  // namespace kestranov::gridder
