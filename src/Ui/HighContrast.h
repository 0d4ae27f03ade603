#pragma once
// Whether the skinned windows draw in the system's high-contrast colours.
// The one answer every window and paint path consults: read at a window's
// creation and again when the setting changes (CPaintManagerUI hears the
// change), kept for the whole process in between. Main thread only.
#include <windows.h>

#include <cstdint>

class CHighContrast {
public:
    using Query = bool (*)();

    static bool IsOn() { return s_on; }
    // Asks again (SPI_GETHIGHCONTRAST, or the query a test put in).
    static void Refresh();
    // Replaces the system's answer (tests, and demo builds under Wine, whose
    // SPI_GETHIGHCONTRAST is always off); null puts the system's back.
    static void SetQuery(Query query) { s_query = query; }
    // A system colour (COLOR_WINDOW, COLOR_BTNTEXT, ...) as opaque 0xAARRGGBB.
    static uint32_t Color(int index);

private:
    static bool s_on;
    static Query s_query;
};
