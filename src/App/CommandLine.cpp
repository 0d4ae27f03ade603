#include "App/CommandLine.h"

#include <cwctype>

#include "App/AppContext.h"
#include "Http/SystemProxy.h"
#include "App/ExitCode.h"
#include "Runtime/TextUtils.h"
#include "Ui/UiTexts.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Switch names are ASCII; compared without regard to case.
bool SameName(const wchar_t* name, size_t length, const wchar_t* known) {
    size_t i = 0;
    for (; i < length && known[i]; ++i) {
        if (std::towupper(name[i]) != std::towupper(known[i])) return false;
    }
    return i == length && known[i] == 0;
}

bool StartsWithName(const std::wstring& text, size_t pos, const wchar_t* prefix) {
    for (size_t i = 0; prefix[i]; ++i) {
        if (pos + i >= text.size() || std::towupper(text[pos + i]) != std::towupper(prefix[i])) return false;
    }
    return true;
}

// Where the first switch begins: a "/", or a quote before one, at the start
// or after a blank. Everything before it is the source number's text.
size_t FirstSwitch(const std::wstring& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (i > 0 && !IsBlank(text[i - 1])) continue;
        if (text[i] == L'/' || (text[i] == L'"' && i + 1 < text.size() && text[i + 1] == L'/')) return i;
    }
    return text.size();
}

struct KnownSwitch {
    const wchar_t* name;
    bool takesValue;
    bool secret;  // its value is never shown
};
// In the order of kSwitches.
enum SwitchId { kS, kKeep, kNoLaunch, kHelp, kD, kLog, kTimeout, kPackageTimeout, kLang, kProxy, kProxyUser, kProxyPass };
constexpr KnownSwitch kSwitches[] = {
    {L"S", false, false}, {L"KEEP", false, false}, {L"NOLAUNCH", false, false}, {L"?", false, false},
    {L"D", true, false},  {L"LOG", true, false},   {L"TIMEOUT", true, false}, {L"PACKAGETIMEOUT", true, false},
    {L"LANG", true, false},
    {L"PROXY", true, false}, {L"PROXYUSER", true, false}, {L"PROXYPASS", true, true},
};

const KnownSwitch* FindSwitch(const wchar_t* name, size_t length) {
    for (const KnownSwitch& s : kSwitches) {
        if (SameName(name, length, s.name)) return &s;
    }
    return nullptr;
}

// A piece "/NAME=value" as the log and the error text may show it: only the
// values of switches known to carry no secret; any other (/PROXYPASS=, a
// mistyped or unknown switch's) as ***.
std::wstring MaskedPiece(const std::wstring& piece) {
    const size_t eq = piece.find(L'=');
    if (piece.empty() || piece[0] != L'/' || eq == std::wstring::npos) return piece;
    const KnownSwitch* known = FindSwitch(piece.data() + 1, eq - 1);
    return known && !known->secret ? piece : piece.substr(0, eq + 1) + L"***";
}

class SwitchParser {
public:
    explicit SwitchParser(InstallerOptions& options) : o_(options) {}

    void Parse(const std::wstring& text, size_t pos) {
        const size_t n = text.size();
        for (;;) {
            while (pos < n && IsBlank(text[pos])) ++pos;
            if (pos >= n) break;
            // An unquoted /D= takes the rest of the line, blanks and all.
            if (StartsWithName(text, pos, L"/D=") && (pos + 3 >= n || text[pos + 3] != L'"')) {
                std::wstring value = text.substr(pos + 3);
                while (!value.empty() && IsBlank(value.back())) value.pop_back();
                pos = n;
                if (value.find(L'"') != std::wstring::npos) {
                    Fail(L"cmdline.quote.in.folder", &value);
                } else if (HasSwitchAfterBlank(value)) {
                    Fail(L"cmdline.folder.not.last", &value);
                }
                Apply(L"D", true, value);
                continue;
            }
            // One piece: quotes group blanks and are dropped.
            std::wstring piece;
            bool quoted = false;
            for (; pos < n && (quoted || !IsBlank(text[pos])); ++pos) {
                if (text[pos] == L'"') quoted = !quoted;
                else piece += text[pos];
            }
            if (quoted) {
                const std::wstring shown = MaskedPiece(piece);
                Fail(L"cmdline.quote.unpaired", &shown);
            }
            ApplyPiece(piece);
        }
        if ((o_.keep || Given(kTimeout)) && !o_.silent) Fail(L"cmdline.silent.only");
        if (Given(kPackageTimeout) && !o_.silent) Fail(L"cmdline.packagetimeout.silent.only");
    }

private:
    static bool HasSwitchAfterBlank(const std::wstring& value) {
        for (size_t i = 1; i < value.size(); ++i) {
            if (value[i] == L'/' && IsBlank(value[i - 1])) return true;
        }
        return false;
    }

    // The first failure is kept, with up to two arguments of its text.
    void Fail(const wchar_t* key, const std::wstring* first = nullptr, const std::wstring* second = nullptr) {
        if (!o_.error.empty()) return;
        for (const std::wstring* arg : {first, second}) {
            if (arg) o_.errorArgs.push_back(*arg);
        }
        o_.error = CUiTexts::Instance().LogText(key, o_.errorArgs);
        o_.errorKey = key;
    }

    void ApplyPiece(const std::wstring& piece) {
        if (piece.size() < 2 || piece[0] != L'/') {
            Fail(L"cmdline.not.switch", &piece);
            return;
        }
        const size_t eq = piece.find(L'=');
        const std::wstring name = piece.substr(1, eq == std::wstring::npos ? std::wstring::npos : eq - 1);
        const bool hasValue = eq != std::wstring::npos;
        Apply(name, hasValue, hasValue ? piece.substr(eq + 1) : std::wstring(), piece);
    }

    void Apply(const std::wstring& name, bool hasValue, const std::wstring& value, const std::wstring& piece = L"") {
        const KnownSwitch* known = FindSwitch(name.data(), name.size());
        const std::wstring shown = MaskedPiece(piece.empty() ? FormatString(L"/%s=%s", name.c_str(), value.c_str()) : piece);
        if (!known) {
            Fail(L"cmdline.unknown", &shown);
            return;
        }
        const std::wstring canonical = std::wstring(L"/") + known->name;
        if (known->takesValue && (!hasValue || value.empty())) {
            Fail(L"cmdline.value.missing", &canonical, &shown);
            return;
        }
        if (!known->takesValue && hasValue) {
            Fail(L"cmdline.value.unwanted", &canonical, &shown);
            return;
        }
        const auto id = static_cast<SwitchId>(known - kSwitches);
        if (Given(id)) {
            Fail(L"cmdline.repeated", &canonical);
            return;
        }
        seen_ |= 1u << id;
        switch (id) {
            case kS: o_.silent = true; break;
            case kKeep: o_.keep = true; break;
            case kNoLaunch: o_.noLaunch = true; break;
            case kHelp: o_.help = true; break;
            case kD: o_.installDir = value; break;
            case kLog: o_.logPath = value; break;
            case kTimeout: ApplySeconds(L"cmdline.timeout.range", value, o_.timeoutSeconds); break;
            case kPackageTimeout: ApplySeconds(L"cmdline.packagetimeout.range", value, o_.packageTimeoutSeconds); break;
            case kLang: ApplyLanguage(value); break;
            case kProxy: ApplyProxy(value); break;
            case kProxyUser: o_.proxyUser = value; break;
            case kProxyPass: o_.proxyPassword = value; break;
        }
    }
    bool Given(SwitchId id) const { return (seen_ >> id) & 1u; }

    void ApplyProxy(const std::wstring& value) {
        ProxyConfig config;
        if (!ParseProxySwitch(value, &config)) {
            Fail(L"cmdline.proxy", &value);
            return;
        }
        o_.proxy = value;
    }

    void ApplySeconds(const wchar_t* rangeKey, const std::wstring& value, uint32_t& out) {
        uint64_t seconds = 0;
        for (wchar_t c : value) {
            if (c < L'0' || c > L'9' || seconds > kMaxNetworkTimeoutSeconds) {
                seconds = kMaxNetworkTimeoutSeconds + 1;
                break;
            }
            seconds = seconds * 10 + static_cast<uint64_t>(c - L'0');
        }
        if (seconds > kMaxNetworkTimeoutSeconds) {
            const std::wstring most = std::to_wstring(kMaxNetworkTimeoutSeconds);
            Fail(rangeKey, &most, &value);
            return;
        }
        out = static_cast<uint32_t>(seconds);
    }

    // One of the language tables' names.
    void ApplyLanguage(const std::wstring& value) {
        CUiTexts& texts = CUiTexts::Instance();
        for (const CTextTable& t : texts.Tables()) {
            if (::CompareStringOrdinal(t.Language().c_str(), -1, value.c_str(), -1, TRUE) == CSTR_EQUAL) {
                o_.language = t.Language();
                return;
            }
        }
        const std::wstring names = texts.LanguageNames();
        Fail(L"cmdline.language", &names, &value);
    }

    InstallerOptions& o_;
    unsigned seen_ = 0;  // one bit per entry of kSwitches
};

}  // namespace

InstallerOptions ParseCommandLine(const wchar_t* commandLine) {
    InstallerOptions options;
    const std::wstring text = commandLine ? commandLine : L"";
    // _wtoi stops at the first character that is no digit, so the number
    // reads the same with or without switches behind it.
    options.sourceId = ParseSourceId(text.c_str());
    SwitchParser(options).Parse(text, FirstSwitch(text));
    return options;
}

std::wstring MaskedCommandLine(const wchar_t* commandLine) {
    std::wstring text = commandLine ? commandLine : L"";
    for (size_t pos = 0; pos < text.size(); ++pos) {
        // A switch: "/" at the start, after a blank or after a quote.
        if (text[pos] != L'/' || (pos > 0 && !IsBlank(text[pos - 1]) && text[pos - 1] != L'"')) continue;
        size_t eq = pos + 1;
        while (eq < text.size() && text[eq] != L'=' && text[eq] != L'"' && !IsBlank(text[eq])) ++eq;
        const KnownSwitch* known = FindSwitch(text.data() + pos + 1, eq - pos - 1);
        if (eq >= text.size() || text[eq] != L'=' || (known && !known->secret)) continue;
        size_t start = eq + 1;
        // Quoted as "/PROXYPASS=a b" or /PROXYPASS="a b": up to the closing
        // quote; otherwise up to the next blank.
        const bool quoted = (pos > 0 && text[pos - 1] == L'"') || (start < text.size() && text[start] == L'"');
        if (start < text.size() && text[start] == L'"') ++start;
        size_t end = start;
        while (end < text.size() && (quoted ? text[end] != L'"' : !IsBlank(text[end]))) ++end;
        text.replace(start, end - start, L"***");
        pos = start + 2;
    }
    return text;
}

std::wstring UsageText() {
    // A blank key is an empty line.
    static const wchar_t* const kLines[] = {L"usage.syntax", L"",           L"usage.s",       L"usage.keep",
                                            L"usage.d",      L"usage.log",  L"usage.nolaunch", L"usage.timeout",
                                            L"usage.packagetimeout",
                                            L"usage.proxy",  L"usage.proxyuser", L"usage.proxypass",
                                            L"usage.lang",   L"usage.help", L"",              L"usage.exits"};
    std::wstring text;
    for (const wchar_t* key : kLines) {
        if (key[0]) text += UiText(key);
        text += L'\n';
    }
    for (int code = kExitInstalled; code <= kExitProxyLogin; ++code) {
        text += UiText(FormatString(L"exit.%d", code));
        text += L'\n';
    }
    return text;
}

std::wstring RefusalText(const InstallerOptions& options) {
    return options.errorKey.empty() ? options.error : UiText(options.errorKey, options.errorArgs);
}
