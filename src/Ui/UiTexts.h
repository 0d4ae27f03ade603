#pragma once
// The texts the user sees and hears, in the language of the run: every
// table of the skin package (Texts.<language>.xml), the one chosen from the
// UI language or /LANG=, and its font faces. The log keeps the default
// table's language. Chosen on the main thread before the first window;
// read-only afterwards, from any thread.
#include <string>
#include <vector>

#include "Ui/TextTable.h"

class CUiTexts {
public:
    // Reads every table of the skin package on first use.
    static CUiTexts& Instance();

    // Reads every table of the skin package unless already read; false when
    // there is none.
    bool Load();
    // Replaces the tables (tests, and a package without tables).
    void UseTables(std::vector<CTextTable> tables);
    // The table called `language`, or with an empty name the one serving
    // the user's UI language. False, keeping the choice, for a name no table
    // has.
    bool Choose(const std::wstring& language);
    // The default table: what the log is written in, and what a run that
    // shows nothing uses.
    void ChooseDefault();

    const std::vector<CTextTable>& Tables() const { return tables_; }
    // The chosen table's name; empty before any table is read.
    std::wstring Language() const;
    // The table names, comma-separated ("zh-CN, zh-TW, en").
    std::wstring LanguageNames() const;

    // `key`'s text in the chosen language, {1}..{9} replaced by `args`; the
    // default table's text when the chosen one lacks the key, the key
    // itself when no table has it.
    std::wstring Text(const std::wstring& key, const std::vector<std::wstring>& args = {}) const;
    // The same in the default table's language, for the log.
    std::wstring LogText(const std::wstring& key, const std::vector<std::wstring>& args = {}) const;

    // The face that draws the chosen language in place of the skin's
    // `markupFace`: the first installed of the table's faces, the system's
    // interface face for "system", or `markupFace` itself.
    std::wstring FaceFor(const std::wstring& markupFace) const;

    static std::wstring Substitute(const std::wstring& text, const std::vector<std::wstring>& args);

private:
    CUiTexts() = default;
    const CTextTable* DefaultTable() const;

    std::vector<CTextTable> tables_;
    bool loaded_ = false;
    int chosen_ = -1;
    mutable bool faceResolved_ = false;
    mutable std::wstring face_;
};

// Shorthand for the chosen language's text.
inline std::wstring UiText(const std::wstring& key, const std::vector<std::wstring>& args) {
    return CUiTexts::Instance().Text(key, args);
}
// The same without arguments, out of line: the many callers pass a pointer only.
std::wstring UiText(const wchar_t* key);
inline std::wstring UiText(const std::wstring& key) { return UiText(key.c_str()); }
