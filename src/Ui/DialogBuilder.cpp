#include "Ui/DialogBuilder.h"

#include <pugixml.hpp>

#include <cwchar>

#include "Runtime/Log.h"
#include "Ui/ButtonUI.h"
#include "Ui/ContainerUI.h"
#include "Ui/ControlUI.h"
#include "Ui/EditUI.h"
#include "Ui/HorizontalLayoutUI.h"
#include "Ui/LabelUI.h"
#include "Ui/MarkupValues.h"
#include "Ui/OptionUI.h"
#include "Ui/PaintManagerUI.h"
#include "Ui/ProgressUI.h"
#include "Ui/SkinPackage.h"
#include "Ui/TabLayoutUI.h"
#include "Ui/UiTexts.h"
#include "Ui/VerticalLayoutUI.h"

namespace {
constexpr wchar_t kLogFile[] = L".\\Ui\\DialogBuilder";

void ApplyWindowAttributes(const pugi::xml_node& window, CPaintManagerUI* m) {
    for (const pugi::xml_attribute& a : window.attributes()) {
        const std::wstring name = a.name(), value = a.value();
        SIZE sz{};
        RECT rc{};
        if (name == L"size") {
            if (markup::ParseSize(value, sz)) {
                m->initSize = sz;
                // The size applies to the window as soon as it is read, at
                // the window's scale.
                if (m->GetPaintWindow()) {
                    const SIZE px = m->Scale(sz);
                    ::SetWindowPos(m->GetPaintWindow(), nullptr, 0, 0, px.cx, px.cy,
                                   SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
                }
            }
        } else if (name == L"mininfo") {
            if (markup::ParseSize(value, sz)) m->minInfo = sz;
        } else if (name == L"maxinfo") {
            if (markup::ParseSize(value, sz)) m->maxInfo = sz;
        } else if (name == L"caption") {
            if (markup::ParseRect(value, rc)) m->caption = rc;
        } else if (name == L"sizebox") {
            if (markup::ParseRect(value, rc)) m->sizeBox = rc;
        } else if (name == L"sizegrip") {
            if (markup::ParseSize(value, sz)) m->sizeGrip = sz;
        } else if (name == L"roundcorner") {
            if (markup::ParseSize(value, sz)) m->roundCorner = sz;
        } else if (name == L"bktrans") {
            m->bkTrans = markup::ParseBool(value);
        } else if (name == L"shadow") {
            m->shadow = markup::ParseBool(value);
        } else if (name == L"selfshadow") {
            m->selfShadow = markup::ParseBool(value);
        } else if (name == L"shadowimage") {
            m->shadowImage = value;
        } else if (name == L"shadowborder") {
            if (markup::ParseRect(value, rc)) m->shadowBorder = rc;
        } else if (name == L"accrole") {
            m->accRole = value;
        } else if (name == L"defaultfontcolor") {
            uint32_t c = 0;
            if (markup::ParseColor(value, c)) m->defaultTextColor = c;
        } else if (name == L"disabledfontcolor") {
            uint32_t c = 0;
            if (markup::ParseColor(value, c)) m->defaultDisabledColor = c;
        }
    }
}

void AddFont(const pugi::xml_node& node, CPaintManagerUI* m) {
    const std::wstring face = node.attribute(L"name").value();
    if (face.empty()) return;  // a font without a name is ignored
    int size = 12;
    markup::ParseInt(node.attribute(L"size").value(), size);
    const int index = m->AddFont(face, size, markup::ParseBool(node.attribute(L"bold").value()),
                                 markup::ParseBool(node.attribute(L"underline").value()),
                                 markup::ParseBool(node.attribute(L"italic").value()));
    if (markup::ParseBool(node.attribute(L"default").value())) m->SetDefaultFont(index);
}

// A value "@key" names a text of the language tables; any other value is
// taken as written.
std::wstring AttributeValue(const wchar_t* value) {
    if (value[0] == L'@' && value[1] != 0) return UiText(value + 1);
    return value;
}

class TreeReader {
public:
    explicit TreeReader(IDialogBuilderCallback* callback) : callback_(callback) {}

    CControlUI* Build(const pugi::xml_node& node, int depth) {
        if (depth > CDialogBuilder::kMaxDepth) {
            KV_LOG(kToConsole | kToFile, Error, L"CDialogBuilder markup nested deeper than %d",
                   CDialogBuilder::kMaxDepth);
            return nullptr;
        }
        CControlUI* control = CDialogBuilder::CreateBuiltinControl(node.name());
        if (control == nullptr && callback_) control = callback_->CreateControl(node.name());
        if (control == nullptr) {
            KV_LOG(kToConsole | kToFile, Warn, L"CDialogBuilder unknown element <%s> skipped", node.name());
            return nullptr;
        }
        for (const pugi::xml_attribute& a : node.attributes()) control->SetAttribute(a.name(), AttributeValue(a.value()));
        auto* container = dynamic_cast<CContainerUI*>(control);
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) continue;
            if (container == nullptr) {
                KV_LOG(kToConsole | kToFile, Warn, L"CDialogBuilder <%s> cannot hold <%s>; skipped", node.name(),
                       child.name());
                continue;
            }
            if (CControlUI* c = Build(child, depth + 1)) container->Add(c);
        }
        return control;
    }

private:
    IDialogBuilderCallback* callback_;
};

}  // namespace

CControlUI* CDialogBuilder::CreateBuiltinControl(const wchar_t* element) {
    struct Entry {
        const wchar_t* name;
        CControlUI* (*make)();
    };
    static const Entry kEntries[] = {
        {L"Control", [] { return new CControlUI; }},
        {L"Container", []() -> CControlUI* { return new CContainerUI; }},
        {L"VerticalLayout", []() -> CControlUI* { return new CVerticalLayoutUI; }},
        {L"HorizontalLayout", []() -> CControlUI* { return new CHorizontalLayoutUI; }},
        {L"TabLayout", []() -> CControlUI* { return new CTabLayoutUI; }},
        {L"Label", []() -> CControlUI* { return new CLabelUI; }},
        {L"Button", []() -> CControlUI* { return new CButtonUI; }},
        {L"Option", []() -> CControlUI* { return new COptionUI; }},
        {L"Edit", []() -> CControlUI* { return new CEditUI; }},
        {L"Progress", []() -> CControlUI* { return new CProgressUI; }},
    };
    for (const Entry& e : kEntries) {
        if (wcscmp(e.name, element) == 0) return e.make();
    }
    return nullptr;
}

CControlUI* CDialogBuilder::Create(const std::wstring& skinFile, IDialogBuilderCallback* callback,
                                   CPaintManagerUI* manager) {
    std::vector<uint8_t> bytes;
    if (!CSkinPackage::Instance().ReadFile(skinFile, bytes)) {
        KV_LOG(kToConsole | kToFile, Error, L"CDialogBuilder::Create cannot read %s from the skin package",
               skinFile.c_str());
        return nullptr;
    }
    return CreateFromBuffer(bytes.data(), bytes.size(), callback, manager);
}

CControlUI* CDialogBuilder::CreateFromBuffer(const uint8_t* data, size_t size, IDialogBuilderCallback* callback,
                                             CPaintManagerUI* manager) {
    if (manager == nullptr) return nullptr;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_utf8);
    if (!parsed) {
        KV_LOG(kToConsole | kToFile, Error, L"CDialogBuilder markup error at byte %d: %S",
               static_cast<int>(parsed.offset), parsed.description());
        return nullptr;
    }
    const pugi::xml_node window = doc.document_element();
    if (wcscmp(window.name(), L"Window") != 0) {
        KV_LOG(kToConsole | kToFile, Error, L"CDialogBuilder root element is <%s>, not <Window>", window.name());
        return nullptr;
    }
    ApplyWindowAttributes(window, manager);
    TreeReader reader(callback);
    CControlUI* root = nullptr;
    for (const pugi::xml_node& child : window.children()) {
        if (child.type() != pugi::node_element) continue;
        const std::wstring name = child.name();
        if (name == L"Font") {
            AddFont(child, manager);
        } else if (name == L"Default" || name == L"Image" || name == L"Style") {
            continue;  // not used by these skins
        } else if (root == nullptr) {
            root = reader.Build(child, 0);
        } else {
            KV_LOG(kToConsole | kToFile, Warn, L"CDialogBuilder second root control <%s> skipped", name.c_str());
        }
    }
    if (root == nullptr) KV_LOG(kToConsole | kToFile, Error, L"CDialogBuilder markup has no root control");
    return root;
}
