#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Ui/DialogBuilder.h"
#include "Ui/LabelUI.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/SkinPackage.h"
#include "Ui/TabLayoutUI.h"
#include "Ui/UiTexts.h"

namespace {

void CollectLabels(CControlUI* control, std::vector<CLabelUI*>& out) {
    if (auto* label = dynamic_cast<CLabelUI*>(control)) out.push_back(label);
    if (auto* container = dynamic_cast<CContainerUI*>(control)) {
        for (int i = 0; i < container->GetCount(); ++i) CollectLabels(container->GetItemAt(i), out);
    }
}

// Texts the program puts into a control while it runs (keys of the tables,
// or "=" and a literal), beside the markup's own.
const std::map<std::wstring, std::vector<std::wstring>> kRuntimeTexts = {
    {L"lb_download", {L"progress.downloading", L"progress.installing"}},
    {L"lb_speed", {L"progress.left"}},
    {L"lb_leftspace", {L"=1023.99GB"}},
    {L"lb_title", {L"box.exit.title", L"box.tip"}},
    {L"btn_ok", {L"box.ok", L"box.earlier.over", L"box.damaged.again"}},
    {L"btn_cancel", {L"box.cancel", L"box.earlier.start", L"box.damaged.quit"}},
};

std::wstring Shown(const std::wstring& entry) {
    if (entry[0] == L'=') return entry.substr(1);
    return UiText(entry, {L"1023.99MB", L"1023.99KB"});
}

std::string Utf8(const std::wstring& text) {
    std::string out(static_cast<size_t>(text.size() * 4 + 1), '\0');
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0],
                                        static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::wstring FormatLine(const std::wstring& language, UINT dpi, const std::wstring& name, int width, int room,
                        const std::wstring& text) {
    wchar_t line[256];
    _snwprintf(line, 255, L"fit %-6ls %3u%% %-14ls %4d / %4d  ", language.c_str(), dpi * 100 / 96,
               name.empty() ? L"-" : name.c_str(), width, room);
    line[255] = 0;
    return line + text + L"\n";
}

}  // namespace

// Every text of the skins on one line in its control, in every language at
// 100%, 150% and 200%, measured in the language's own font: none is cut.
// The run prints the longest text of each control per language.
TEST(TextFit, EveryTextFitsItsControlInEveryLanguageAndScale) {
    CUiTexts& texts = CUiTexts::Instance();
    ASSERT_GE(texts.Tables().size(), 3u);
    for (const CTextTable& table : texts.Tables()) {
        ASSERT_TRUE(texts.Choose(table.Language()));
        for (const UINT dpi : {96u, 144u, 192u}) {
            for (const wchar_t* skin : {L"InstallPackages.xml", L"MessageBox.xml", L"ProxyLogin.xml"}) {
                CSkinPackage::Instance().Close();
                CPaintManagerUI manager;
                manager.SetDpi(dpi);
                CDialogBuilder builder;
                ASSERT_TRUE(manager.AttachDialog(builder.Create(skin, nullptr, &manager)));
                auto* tabs = static_cast<CTabLayoutUI*>(manager.FindControl(L"tb_main"));
                std::map<CLabelUI*, std::wstring> checked;
                for (int page = 0; page < (tabs ? tabs->GetCount() : 1); ++page) {
                    if (tabs) tabs->SelectItem(page);
                    manager.LayoutIfNeeded();
                    std::vector<CLabelUI*> labels;
                    CollectLabels(manager.GetRoot(), labels);
                    for (CLabelUI* label : labels) {
                        const RECT rc = label->GetPos();
                        if (!label->IsVisible() || rc.right <= rc.left || checked.count(label)) continue;
                        if (label->GetTextStyle() & DT_WORDBREAK) continue;  // wraps; its box grows
                        std::vector<std::wstring> shown = {label->GetText()};
                        const auto runtime = kRuntimeTexts.find(label->GetName());
                        if (runtime != kRuntimeTexts.end()) {
                            for (const std::wstring& entry : runtime->second) shown.push_back(Shown(entry));
                        }
                        const RECT pad = label->GetTextPadding();
                        const int room = rc.right - rc.left - manager.Scale(pad.left + pad.right);
                        std::wstring longest;
                        int longestWidth = 0;
                        for (const std::wstring& text : shown) {
                            label->SetText(text);
                            const int width = label->TextWidth();
                            EXPECT_LE(width, room) << table.Language() << " at " << dpi << " DPI: \"" << text
                                                   << "\" in " << label->GetName() << " (" << skin << ")";
                            if (width >= longestWidth) longestWidth = width, longest = text;
                        }
                        checked[label] = longest;
                        if (!longest.empty()) {
                            const std::wstring line = FormatLine(table.Language(), dpi, label->GetName(), longestWidth,
                                                                 room, longest);
                            fputs(Utf8(line).c_str(), stdout);
                        }
                    }
                }
            }
        }
    }
    texts.ChooseDefault();
}
