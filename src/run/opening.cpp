#include "run/opening.h"

#include <ostream>
#include <string>

#include "core/run_state.h"
#include "run/console_input.h"

namespace kestranov {

namespace {

constexpr const char* base_directory = "c:\\images\\";
constexpr std::size_t frame_width = 57;

// One banner line: a tab, an asterisk, 57 characters, an asterisk.
std::string frame_line(std::string_view text)
{
    std::string line = "\n\t*";
    line += text;
    line.append(frame_width - text.size(), ' ');
    line += '*';
    return line;
}

void banner(std::ostream& out)
{
    const std::string stars = "\n\t" + std::string(frame_width + 2, '*');
    const std::string empty = frame_line("");
    out << stars << empty << empty << frame_line("                      KESTRANOV") << empty << empty << empty << empty
        << frame_line("   Digital elevation models from airborne LIDAR points") << frame_line("   Version 1.0") << empty
        << frame_line("   First or last return, ASCII grid or raster output") << empty << stars;
}

}  // namespace

void opening(RunState& st)
{
    const Console con = console_of(st);
    banner(con.out);
    std::string nomgen = base_directory;
    std::string nomdir = ask_word(con, "\n\n\tName of the File Folder located in the Directory " + nomgen + " : ");
    nomgen += nomdir;
    nomgen += '\\';
    st.nomim4 = nomgen;
    st.nomgen = nomgen;

    st.numlay = ask_int(
        con, "\n\n\tNumber of files to stick ? ", [](long long n) { return n >= 1; },
        "\n\tThe number of files must be a whole number of at least 1.",
        "\n\tThe number of files must be at most 2147483647.");
    st.files.assign(1, data_file{});
    for (int k = 1; k <= st.numlay; ++k) {
        st.nomfic =
            ask_word(con, "\n\n\tName of the file number " + std::to_string(k) + " (without extension .xyz) ? ");
        st.files.push_back({st.nomfic});
    }
    st.nomim3 = point_file_path(st, st.numlay);
}

void ask_gridding(RunState& st)
{
    const Console con = console_of(st);
    // A comma is the decimal separator of many locales: the console reads
    // only a point, and says so to whoever typed one.
    const auto complaint = [](std::string_view answer) -> std::string_view {
        if (answer.find(',') != std::string_view::npos)
            return "\n\tThe pixel size must be a decimal number greater than 0, written with a point (2.5, not 2,5).";
        return "\n\tThe pixel size must be a decimal number greater than 0.";
    };
    st.pix_size = ask_double(
        con, "\n\n\tdecimal pixel output size (decimal value in meters) ? ", [](double v) { return v > 0.0; },
        complaint);
    st.retorno = ask_menu(con, "\n\n\treturn selection:", {"first [top]", "last [bottom]"});
}

}  // namespace kestranov
