#pragma once
// Which text table serves a UI language, as the system's own installers
// choose: the exact name first ("zh-HK"), then ever shorter prefixes of it
// ("zh-Hant-TW", "zh-Hant", "zh"), then a table serving "*". A name
// nobody serves, and an id without a name, get the default table; a
// Traditional name never reaches a Simplified table by its prefix, as the
// Traditional table lists every Traditional name and script. Any thread.
#include <windows.h>

#include <string>
#include <vector>

class CTextTable;

class CLanguageChoice {
public:
    // The locale name of a UI language id ("zh-TW" for 0x0404); empty when
    // the system knows no name for it.
    static std::wstring NameOf(LANGID id);
    // The index in `tables` of the table for `name` (empty: an unnamed
    // language); -1 when there is no table at all.
    static int Choose(const std::vector<CTextTable>& tables, const std::wstring& name);
    // The index of the table called `language` (case-insensitive), or -1.
    static int Find(const std::vector<CTextTable>& tables, const std::wstring& language);
};
