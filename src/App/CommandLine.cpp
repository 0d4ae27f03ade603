#include "App/CommandLine.h"

#include <cwctype>

#include "App/AppContext.h"
#include "Runtime/TextUtils.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Switch names are ASCII; compared without regard to case.
bool SameName(const std::wstring& name, const wchar_t* known) {
    size_t i = 0;
    for (; i < name.size() && known[i]; ++i) {
        if (std::towupper(name[i]) != std::towupper(known[i])) return false;
    }
    return i == name.size() && known[i] == 0;
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
};
constexpr KnownSwitch kSwitches[] = {
    {L"S", false}, {L"KEEP", false}, {L"NOLAUNCH", false}, {L"?", false},
    {L"D", true},  {L"LOG", true},   {L"TIMEOUT", true}, {L"PACKAGETIMEOUT", true},
};

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
                    Fail(L"/D= 的文件夹中有引号：" + value);
                } else if (HasSwitchAfterBlank(value)) {
                    Fail(L"不加引号的 /D= 必须是最后一个开关（或给文件夹加引号）：/D=" + value);
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
            if (quoted) Fail(L"引号不成对：" + piece);
            ApplyPiece(piece);
        }
        if ((o_.keep || timeoutGiven_) && !o_.silent) Fail(L"/KEEP 和 /TIMEOUT= 只能与 /S 一起使用");
        if (packageTimeoutGiven_ && !o_.silent) Fail(L"/PACKAGETIMEOUT= 只能与 /S 一起使用");
    }

private:
    static bool HasSwitchAfterBlank(const std::wstring& value) {
        for (size_t i = 1; i < value.size(); ++i) {
            if (value[i] == L'/' && IsBlank(value[i - 1])) return true;
        }
        return false;
    }

    void Fail(const std::wstring& message) {
        if (o_.error.empty()) o_.error = message;
    }

    void ApplyPiece(const std::wstring& piece) {
        if (piece.size() < 2 || piece[0] != L'/') {
            Fail(L"无法识别的参数：" + piece);
            return;
        }
        const size_t eq = piece.find(L'=');
        const std::wstring name = piece.substr(1, eq == std::wstring::npos ? std::wstring::npos : eq - 1);
        const bool hasValue = eq != std::wstring::npos;
        Apply(name, hasValue, hasValue ? piece.substr(eq + 1) : std::wstring(), piece);
    }

    void Apply(const std::wstring& name, bool hasValue, const std::wstring& value, const std::wstring& piece = L"") {
        const KnownSwitch* known = nullptr;
        for (const KnownSwitch& s : kSwitches) {
            if (SameName(name, s.name)) known = &s;
        }
        const std::wstring shown = piece.empty() ? L"/" + name + L"=" + value : piece;
        if (!known) {
            Fail(L"未知的开关：" + shown);
            return;
        }
        const std::wstring canonical = std::wstring(L"/") + known->name;
        if (known->takesValue && (!hasValue || value.empty())) {
            Fail(canonical + L"= 后面缺少值：" + shown);
            return;
        }
        if (!known->takesValue && hasValue) {
            Fail(canonical + L" 不带值：" + shown);
            return;
        }
        const unsigned bit = 1u << (known - kSwitches);
        if (seen_ & bit) {
            Fail(L"开关重复：" + canonical);
            return;
        }
        seen_ |= bit;
        if (canonical == L"/S") o_.silent = true;
        else if (canonical == L"/KEEP") o_.keep = true;
        else if (canonical == L"/NOLAUNCH") o_.noLaunch = true;
        else if (canonical == L"/?") o_.help = true;
        else if (canonical == L"/D") o_.installDir = value;
        else if (canonical == L"/LOG") o_.logPath = value;
        else if (canonical == L"/TIMEOUT") ApplySeconds(canonical, value, timeoutGiven_, o_.timeoutSeconds);
        else if (canonical == L"/PACKAGETIMEOUT") {
            ApplySeconds(canonical, value, packageTimeoutGiven_, o_.packageTimeoutSeconds);
        }
    }

    void ApplySeconds(const std::wstring& name, const std::wstring& value, bool& given, uint32_t& out) {
        given = true;
        uint64_t seconds = 0;
        for (wchar_t c : value) {
            if (c < L'0' || c > L'9' || seconds > kMaxNetworkTimeoutSeconds) {
                seconds = kMaxNetworkTimeoutSeconds + 1;
                break;
            }
            seconds = seconds * 10 + static_cast<uint64_t>(c - L'0');
        }
        if (seconds > kMaxNetworkTimeoutSeconds) {
            Fail(FormatString(L"%s= 须为 0 到 %u 之间的秒数：%s", name.c_str(), kMaxNetworkTimeoutSeconds, value.c_str()));
            return;
        }
        out = static_cast<uint32_t>(seconds);
    }

    InstallerOptions& o_;
    unsigned seen_ = 0;  // one bit per entry of kSwitches
    bool timeoutGiven_ = false;
    bool packageTimeoutGiven_ = false;
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

std::wstring UsageText() {
    return L"KorvelQixarInstaller.exe [来源编号] [开关]\n"
           L"\n"
           L"/S\t静默安装：不显示任何窗口，视为同意软件许可协议；已安装时覆盖安装\n"
           L"/KEEP\t（与 /S 同用）已安装时直接启动已安装的启动器，不再安装\n"
           L"/D=文件夹\t安装文件夹，带盘符的完整路径；含空格时放在最后，或加引号\n"
           L"/LOG=文件\t把每一步追加写入 UTF-8 日志文件（完整路径）\n"
           L"/NOLAUNCH\t安装后不启动启动器\n"
           L"/TIMEOUT=秒\t（与 /S 同用）网络不通或下载几乎停滞时最多等多久，默认 600\n"
           L"/PACKAGETIMEOUT=秒\t（与 /S 同用）安装包最多运行多久，超时则结束它（退出代码 7），默认 1800\n"
           L"/?\t显示本说明\n"
           L"\n"
           L"退出代码（/S）：\n"
           L"0 安装完成\n"
           L"1 命令行有误\n"
           L"2 另一个安装程序正在运行\n"
           L"3 网络一直不通，直到超时\n"
           L"4 安装包从每个下载地址单独下载后仍校验失败\n"
           L"5 磁盘空间不足或无法写入\n"
           L"6 安装文件夹无效\n"
           L"7 安装包运行失败\n"
           L"8 无法启动启动器\n"
           L"9 电脑时间不正确，直到超时\n"
           L"10 安装信息校验失败（可能被篡改），直到超时\n"
           L"11 安装包一直被其他程序占用\n"
           L"12 下载服务器一直无法提供安装包，直到超时\n";
}
