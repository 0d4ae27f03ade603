#include "Ui/TextTable.h"

#include <pugixml.hpp>

#include "Runtime/Log.h"
#include "Ui/MarkupValues.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\Ui\\TextTable";

std::vector<std::wstring> Split(const std::wstring& list, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(separator, start);
        if (end == std::wstring::npos) end = list.size();
        if (end > start) parts.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}
}  // namespace

bool CTextTable::Parse(const uint8_t* data, size_t size) {
    *this = CTextTable();
    pugi::xml_document doc;
    if (!doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_utf8)) {
        KV_LOG(kToConsole | kToFile, Error, L"CTextTable::Parse not a text table");
        return false;
    }
    const pugi::xml_node root = doc.child(L"Texts");
    language_ = root.attribute(L"lang").value();
    if (language_.empty()) {
        KV_LOG(kToConsole | kToFile, Error, L"CTextTable::Parse a table without its language");
        return false;
    }
    matches_ = Split(root.attribute(L"match").value(), L' ');
    faces_ = Split(root.attribute(L"faces").value(), L';');
    default_ = markup::ParseBool(root.attribute(L"default").value());
    for (const pugi::xml_node& t : root.children(L"T")) {
        const std::wstring key = t.attribute(L"k").value();
        std::wstring text = t.text().get();
        if (key.empty() || text.size() > kMaxTextLength || texts_.size() >= kMaxTexts ||
            !texts_.emplace(key, std::move(text)).second) {
            KV_LOG(kToConsole | kToFile, Error, L"CTextTable::Parse %s: text \"%s\" refused", language_.c_str(),
                   key.c_str());
            texts_.clear();
            return false;
        }
    }
    return true;
}

const std::wstring* CTextTable::Find(const std::wstring& key) const {
    const auto it = texts_.find(key);
    return it == texts_.end() ? nullptr : &it->second;
}
