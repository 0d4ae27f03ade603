// The shipped installer's handler for an uncaught exception (std::terminate).
// The C++ runtime's default handler demangles the exception's type name
// before aborting, which links its whole demangler (about 45 KB) into every
// program. This one writes the exception's what() text to stderr instead
// (visible when the program runs from a console or under Wine) and aborts,
// as the default does. Linked into Release builds of the installer only, as an
// object file, so that it takes the place of the runtime's definition.
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    static bool entered = false;
    if (!entered) {  // a throw from what() below must not recurse
        entered = true;
        std::fputs("terminate called", stderr);
        if (std::exception_ptr current = std::current_exception()) {
            try {
                std::rethrow_exception(current);
            } catch (const std::exception& e) {
                std::fputs(" after throwing: ", stderr);
                std::fputs(e.what(), stderr);
            } catch (...) {
                std::fputs(" after throwing a non-standard exception", stderr);
            }
        }
        std::fputs("\n", stderr);
    }
    std::abort();
}

}  // namespace __gnu_cxx
