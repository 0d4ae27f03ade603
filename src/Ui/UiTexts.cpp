#include "Ui/UiTexts.h"

#include <windows.h>

#include "Runtime/Log.h"
#include "Ui/FontFallback.h"
#include "Ui/LanguageChoice.h"
#include "Ui/SkinPackage.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\Ui\\UiTexts";
constexpr wchar_t kTablePrefix[] = L"Texts.";
constexpr wchar_t kSystemFace[] = L"system";

std::wstring SystemInterfaceFace() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return L"";
    return metrics.lfMessageFont.lfFaceName;
}
}  // namespace

CUiTexts& CUiTexts::Instance() {
    static CUiTexts texts;
    texts.Load();
    return texts;
}

bool CUiTexts::Load() {
    if (loaded_) return !tables_.empty();
    loaded_ = true;
    CSkinPackage& package = CSkinPackage::Instance();
    // A run without a window reads the tables and lets the package go again.
    const bool wasOpen = package.IsOpen();
    if (!package.EnsureOpen()) return false;
    for (const std::wstring& name : package.Names()) {
        if (name.compare(0, wcslen(kTablePrefix), kTablePrefix) != 0) continue;
        std::vector<uint8_t> bytes;
        CTextTable table;
        if (package.ReadFile(name, bytes) && table.Parse(bytes.data(), bytes.size())) {
            tables_.push_back(std::move(table));
        }
    }
    if (!wasOpen) package.Close();
    if (tables_.empty()) KV_LOG(kToConsole | kToFile, Error, L"CUiTexts::Load the skin package has no text table");
    return !tables_.empty();
}

void CUiTexts::UseTables(std::vector<CTextTable> tables) {
    tables_ = std::move(tables);
    loaded_ = true;
    chosen_ = -1;
    faceResolved_ = false;
}

bool CUiTexts::Choose(const std::wstring& language) {
    Load();
    int index = -1;
    std::wstring system;
    if (language.empty()) {
        system = CLanguageChoice::NameOf(::GetUserDefaultUILanguage());
        index = CLanguageChoice::Choose(tables_, system);
    } else {
        index = CLanguageChoice::Find(tables_, language);
    }
    if (index < 0) return false;
    chosen_ = index;
    faceResolved_ = false;
    KV_LOG(kToConsole | kToFile, Info, L"CUiTexts::Choose %s (asked: %s, UI language: %s)", Language().c_str(),
           language.empty() ? L"-" : language.c_str(), system.empty() ? L"-" : system.c_str());
    return true;
}

void CUiTexts::ChooseDefault() {
    Load();
    const CTextTable* table = DefaultTable();
    chosen_ = table ? static_cast<int>(table - tables_.data()) : -1;
    faceResolved_ = false;
}

std::wstring CUiTexts::Language() const {
    return chosen_ >= 0 ? tables_[static_cast<size_t>(chosen_)].Language() : std::wstring();
}

std::wstring CUiTexts::LanguageNames() const {
    std::wstring names;
    for (const CTextTable& t : tables_) names += (names.empty() ? L"" : L", ") + t.Language();
    return names;
}

const CTextTable* CUiTexts::DefaultTable() const {
    const int index = CLanguageChoice::Choose(tables_, L"");
    return index >= 0 ? &tables_[static_cast<size_t>(index)] : nullptr;
}

std::wstring CUiTexts::Text(const std::wstring& key, const std::vector<std::wstring>& args) const {
    if (chosen_ >= 0) {
        if (const std::wstring* text = tables_[static_cast<size_t>(chosen_)].Find(key)) return Substitute(*text, args);
    }
    return LogText(key, args);
}

std::wstring UiText(const wchar_t* key) { return CUiTexts::Instance().Text(key); }

std::wstring CUiTexts::LogText(const std::wstring& key, const std::vector<std::wstring>& args) const {
    const CTextTable* table = DefaultTable();
    const std::wstring* text = table ? table->Find(key) : nullptr;
    return text ? Substitute(*text, args) : key;
}

std::wstring CUiTexts::Substitute(const std::wstring& text, const std::vector<std::wstring>& args) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        // "{n}", n from 1 to the number of arguments; anything else as it is.
        if (text[i] == L'{' && i + 2 < text.size() && text[i + 2] == L'}' && text[i + 1] >= L'1' &&
            static_cast<size_t>(text[i + 1] - L'0') <= args.size()) {
            out += args[static_cast<size_t>(text[i + 1] - L'1')];
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::wstring CUiTexts::FaceFor(const std::wstring& markupFace) const {
    if (!faceResolved_) {
        faceResolved_ = true;
        face_.clear();
        if (chosen_ >= 0) {
            for (const std::wstring& f : tables_[static_cast<size_t>(chosen_)].Faces()) {
                const std::wstring face = f == kSystemFace ? SystemInterfaceFace() : f;
                if (CFontFallback::IsInstalled(face)) {
                    face_ = face;
                    break;
                }
            }
            // A language with faces of its own but none installed: the common
            // CJK fallback (it draws Traditional and Latin letters too).
            if (face_.empty() && !tables_[static_cast<size_t>(chosen_)].Faces().empty()) {
                face_ = CFontFallback::ChooseFace(&CFontFallback::IsInstalled);
            }
        }
    }
    return face_.empty() ? markupFace : face_;
}
