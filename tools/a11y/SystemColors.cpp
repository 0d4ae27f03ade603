// Sets the system colours of the running Wine session (or Windows desktop)
// to a high-contrast scheme, for pictures of the installer in it:
//   kv_system_colors dark    white on black (highlight cyan, disabled green)
//   kv_system_colors light   black on white (highlight purple, disabled brown)
// Wine keeps them until its server ends; they are not saved. Wine cannot
// turn high contrast itself on (SPI_SETHIGHCONTRAST fails), so the
// installer is told by its test switch (KV_HIGH_CONTRAST).
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    const std::wstring scheme = argc > 1 ? argv[1] : L"";
    const INT index[] = {COLOR_WINDOW,    COLOR_WINDOWTEXT,    COLOR_BTNFACE,  COLOR_BTNTEXT,
                         COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT, COLOR_HOTLIGHT};
    const COLORREF dark[] = {RGB(0, 0, 0),       RGB(255, 255, 255), RGB(0, 0, 0),      RGB(255, 255, 255),
                             RGB(0x1A, 0xEB, 0xFF), RGB(0, 0, 0),    RGB(0x3F, 0xF2, 0x3F), RGB(255, 255, 0)};
    const COLORREF light[] = {RGB(255, 255, 255), RGB(0, 0, 0),       RGB(255, 255, 255), RGB(0, 0, 0),
                              RGB(0x37, 0x00, 0x6E), RGB(255, 255, 255), RGB(0x60, 0, 0),  RGB(0, 0, 0x9F)};
    if (scheme != L"dark" && scheme != L"light") {
        std::fputs("usage: kv_system_colors dark|light\n", stderr);
        return 1;
    }
    if (!::SetSysColors(ARRAYSIZE(index), index, scheme == L"dark" ? dark : light)) {
        std::fprintf(stderr, "SetSysColors failed (%lu)\n", ::GetLastError());
        return 2;
    }
    return 0;
}
