#include "run/driver.h"

#include <istream>
#include <new>
#include <ostream>
#include <string>
#include <string_view>

#include "core/fatal.h"
#include "core/messages.h"
#include "core/run_state.h"
#include "platform/console.h"
#include "run/console_input.h"
#include "run/console_reading.h"
#include "run/opening.h"
#include "run/treatment.h"

namespace kestranov {

namespace {

// Nothing here allocates: the memory message may come when there is none.
int abnormal_end(const Console& con, std::string_view message)
{
    con.out << message;
    con.out.flush();
    // The key press is a new input: what is left of the last answer's line
    // is not it. (On a terminal, getch itself drops pending input.)
    if (!con.terminal) drop_rest_of_line(con.in);
    getch(con.in, con.terminal);
    return 1;
}

}  // namespace

int end_for_lack_of_memory(RunState& st) { return abnormal_end(console_of(st), memory_exhausted); }

int run(RunState& st)
{
    try {
        opening(st);
        ask_gridding(st);
        treatment(st);
        st.out->flush();
        return 0;
    } catch (const Fatal& e) {
        return abnormal_end(console_of(st), e.text);
    } catch (const ReadError& e) {
        const ConsoleFiles names = console_files(st);
        return abnormal_end(console_of(st), console_text(e, &names));
    } catch (const std::bad_alloc&) {
        return abnormal_end(console_of(st), memory_exhausted);
    } catch (const std::exception& e) {
        // Nothing should get here; if something does, it still ends as a failure, not a crash.
        return abnormal_end(console_of(st), unexpected_failure(e.what()));
    }
}

}  // namespace kestranov
