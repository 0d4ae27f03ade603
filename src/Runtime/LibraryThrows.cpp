// The shipped installer's versions of the C++ runtime's std::__throw_*
// helpers, which the standard containers, strings and std::function call on
// a misuse or a failed allocation. The installer catches none of those
// exceptions, so each one ends the program through std::terminate; these end
// it the same way directly: the terminate handler's line on stderr
// ("terminate called after throwing: <what>") and abort. The runtime's own
// versions build std::logic_error and its kind, and with them the old
// reference-counted string and its random-device support (about 30 KB).
// Linked into Release builds of the installer only, as an object file, so
// that the runtime's archive member is never pulled in.
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void TerminateAfter(const char* what) {
    std::fputs("terminate called after throwing: ", stderr);
    std::fputs(what, stderr);
    std::fputs("\n", stderr);
    std::abort();
}

// The runtime's formats use "%s", "%zu" and "%%" only.
void PrintFormatted(const char* format, va_list args) {
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            std::fputs(va_arg(args, const char*), stderr);
            ++p;
        } else if (p[0] == '%' && p[1] == 'z' && p[2] == 'u') {
            char digits[24];
            char* d = digits + sizeof(digits);
            *--d = '\0';
            size_t value = va_arg(args, size_t);
            do *--d = static_cast<char>('0' + value % 10); while (value /= 10);
            std::fputs(d, stderr);
            p += 2;
        } else {
            if (p[0] == '%' && p[1] == '%') ++p;
            std::fputc(*p, stderr);
        }
    }
}

}  // namespace

namespace std {

void __throw_bad_exception() { TerminateAfter("std::bad_exception"); }
void __throw_bad_alloc() { TerminateAfter("std::bad_alloc"); }
void __throw_bad_array_new_length() { TerminateAfter("std::bad_array_new_length"); }
void __throw_bad_cast() { TerminateAfter("std::bad_cast"); }
void __throw_bad_typeid() { TerminateAfter("std::bad_typeid"); }
void __throw_bad_function_call() { TerminateAfter("bad_function_call"); }
void __throw_logic_error(const char* what) { TerminateAfter(what); }
void __throw_domain_error(const char* what) { TerminateAfter(what); }
void __throw_invalid_argument(const char* what) { TerminateAfter(what); }
void __throw_length_error(const char* what) { TerminateAfter(what); }
void __throw_out_of_range(const char* what) { TerminateAfter(what); }
void __throw_runtime_error(const char* what) { TerminateAfter(what); }
void __throw_range_error(const char* what) { TerminateAfter(what); }
void __throw_overflow_error(const char* what) { TerminateAfter(what); }
void __throw_underflow_error(const char* what) { TerminateAfter(what); }

void __throw_out_of_range_fmt(const char* format, ...) {
    std::fputs("terminate called after throwing: ", stderr);
    va_list args;
    va_start(args, format);
    PrintFormatted(format, args);
    va_end(args);
    std::fputs("\n", stderr);
    std::abort();
}

}  // namespace std
