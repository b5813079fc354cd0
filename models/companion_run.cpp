#include "models/companion_run.h"

#include <new>

#include "core/version.h"
#include "models/model_error.h"

namespace kestranov::models {

std::string one_line(std::string text)
{
    std::string shown;
    for (std::size_t k = 0; k < text.size();) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (c < 0x80) {
            shown += c < 0x20 || c == 0x7f ? '?' : text[k];
            ++k;
            continue;
        }
        // A whole UTF-8 sequence is kept, but for the C1 controls
        // (U+0080..U+009F); a byte that starts none is shown as '?' (a lone
        // 0x9B is a control to some terminals).
        const std::size_t length = c >= 0xc2 && c <= 0xdf   ? 2
                                   : c >= 0xe0 && c <= 0xef ? 3
                                   : c >= 0xf0 && c <= 0xf4 ? 4
                                                            : 0;
        bool whole = length != 0 && k + length <= text.size();
        for (std::size_t m = 1; whole && m < length; ++m)
            whole = (static_cast<unsigned char>(text[k + m]) & 0xc0) == 0x80;
        if (!whole || (c == 0xc2 && static_cast<unsigned char>(text[k + 1]) <= 0x9f)) {
            shown += '?';
            k += whole ? length : 1;
            continue;
        }
        shown.append(text, k, length);
        k += length;
    }
    return shown;
}

int run_companion(const char* program, const std::string& usage, bool takes_epsg, const std::vector<std::string>& args,
                  std::ostream& out, std::ostream& err, const CompanionWork& work)
{
    Options opt;
    try {
        opt = parse_arguments(args, takes_epsg);
    } catch (const UsageError& e) {
        err << program << ": " << one_line(e.what()) << " (" << program << " --help shows the usage)\n";
        return 2;
    }
    // Written here once for both companions, in their usages' columns.
    if (opt.help) {
        out << usage << "  --help       this usage\n  --version    the program's version\n";
        return 0;
    }
    if (opt.version) {
        out << program << ' ' << project_version << "\n";
        return 0;
    }
    const std::string input_name = one_line(opt.input.string());
    std::vector<std::string> notices;
    try {
        work(opt, out, notices);
        for (const std::string& n : notices) err << program << ": " << one_line(n) << "\n";
        return 0;
    } catch (const ModelError& e) {
        err << program << ": " << one_line(e.what()) << "\n";
    } catch (const std::bad_alloc&) {
        err << program << ": " << input_name << ": not enough memory to read the model\n";
    } catch (const std::exception& e) {
        err << program << ": " << input_name << ": " << one_line(e.what()) << "\n";
    }
    return 1;
}

}  // namespace kestranov::models
