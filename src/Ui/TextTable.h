#pragma once
// One language's texts, read from its markup in the skin package
// (Texts.<language>.xml): a text per key, the UI languages the table serves
// and the font faces that draw it. Read-only once parsed; any thread.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CTextTable {
public:
    // Caps that keep a damaged table from exhausting memory.
    static constexpr size_t kMaxTexts = 1024;
    static constexpr size_t kMaxTextLength = 4096;

    // False (and a log line) for markup that is no table: not XML, no
    // language name, a text without key, a key given twice, a cap passed.
    bool Parse(const uint8_t* data, size_t size);

    // The table's name, as /LANG= gives it ("zh-TW").
    const std::wstring& Language() const { return language_; }
    // The UI language names, scripts and primary languages it serves
    // ("zh-Hant", "zh"); "*" for every language no other table serves.
    const std::vector<std::wstring>& Matches() const { return matches_; }
    // The table for a UI language that has no name (an unknown id).
    bool IsDefault() const { return default_; }
    // Faces tried in order before the common CJK fallback; empty keeps the
    // skin's faces; "system" is the system's interface face.
    const std::vector<std::wstring>& Faces() const { return faces_; }

    // The text of `key`; nullptr when the table has none.
    const std::wstring* Find(const std::wstring& key) const;
    const std::map<std::wstring, std::wstring>& Texts() const { return texts_; }

private:
    std::wstring language_;
    std::vector<std::wstring> matches_;
    std::vector<std::wstring> faces_;
    bool default_ = false;
    std::map<std::wstring, std::wstring> texts_;
};
