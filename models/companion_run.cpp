#include "models/companion_run.h"

#include <new>

#include "models/model_error.h"

namespace kestranov::models {

std::string one_line(std::string text)
{
    for (std::size_t k = 0; k < text.size(); ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (c < 0x20 || c == 0x7f) text[k] = '?';
        // U+0080..U+009F, which a terminal may take as controls.
        if (c == 0xc2 && k + 1 < text.size() && static_cast<unsigned char>(text[k + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[k + 1]) <= 0x9f)
            text.replace(k, 2, "?");
    }
    return text;
}

int run_companion(const char* program, const std::string& usage, bool takes_epsg, const std::vector<std::string>& args,
                  std::ostream& out, std::ostream& err, const CompanionWork& work)
{
    Options opt;
    try {
        opt = parse_arguments(args, takes_epsg);
    } catch (const UsageError& e) {
        err << program << ": " << one_line(e.what()) << " (" << program << " --help shows the usage)\n";
        return 1;
    }
    if (opt.help) {
        out << usage;
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
        err << program << ": " << input_name << ": grid too large to hold in memory\n";
    } catch (const std::exception& e) {
        err << program << ": " << input_name << ": " << one_line(e.what()) << "\n";
    }
    return 1;
}

}  // namespace kestranov::models
