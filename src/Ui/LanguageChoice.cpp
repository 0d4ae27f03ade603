#include "Ui/LanguageChoice.h"

#include "Ui/TextTable.h"

namespace {
bool Serves(const CTextTable& table, const std::wstring& name) {
    for (const std::wstring& m : table.Matches()) {
        if (::CompareStringOrdinal(m.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

int FindServing(const std::vector<CTextTable>& tables, const std::wstring& name) {
    for (size_t i = 0; i < tables.size(); ++i) {
        if (Serves(tables[i], name)) return static_cast<int>(i);
    }
    return -1;
}
}  // namespace

std::wstring CLanguageChoice::NameOf(LANGID id) {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    const int n = ::LCIDToLocaleName(MAKELCID(id, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0);
    return n > 1 ? std::wstring(name) : std::wstring();
}

int CLanguageChoice::Choose(const std::vector<CTextTable>& tables, const std::wstring& name) {
    if (tables.empty()) return -1;
    if (!name.empty()) {
        // "zh-Hant-TW", then "zh-Hant", then "zh".
        for (std::wstring prefix = name;;) {
            const int found = FindServing(tables, prefix);
            if (found >= 0) return found;
            const size_t dash = prefix.rfind(L'-');
            if (dash == std::wstring::npos || dash == 0) break;
            prefix.resize(dash);
        }
        const int any = FindServing(tables, L"*");
        if (any >= 0) return any;
    }
    for (size_t i = 0; i < tables.size(); ++i) {
        if (tables[i].IsDefault()) return static_cast<int>(i);
    }
    return 0;
}

int CLanguageChoice::Find(const std::vector<CTextTable>& tables, const std::wstring& language) {
    for (size_t i = 0; i < tables.size(); ++i) {
        const std::wstring& l = tables[i].Language();
        if (::CompareStringOrdinal(l.c_str(), -1, language.c_str(), -1, TRUE) == CSTR_EQUAL) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
