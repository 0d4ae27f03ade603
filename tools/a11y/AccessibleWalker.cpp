#include "AccessibleWalker.h"

#include "Ui/AccessibleIds.h"

namespace {
VARIANT ChildVariant(LONG id) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::wstring TakeBstr(BSTR b) {
    std::wstring s = b ? std::wstring(b, ::SysStringLen(b)) : std::wstring();
    ::SysFreeString(b);
    return s;
}
}  // namespace

CAccessibleWalker::~CAccessibleWalker() {
    if (acc_) acc_->Release();
}

bool CAccessibleWalker::Open(HWND hwnd) {
    if (acc_) acc_->Release();
    acc_ = nullptr;
    hwnd_ = hwnd;
    error_ = ::AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), kv::kIidAccessible,
                                          reinterpret_cast<void**>(&acc_));
    if (SUCCEEDED(error_) && acc_ == nullptr) error_ = E_NOINTERFACE;
    return SUCCEEDED(error_);
}

AccessibleItem CAccessibleWalker::Read(LONG id) {
    AccessibleItem item;
    item.id = id;
    const VARIANT child = ChildVariant(id);
    BSTR b = nullptr;
    if (acc_->get_accName(child, &b) == S_OK) item.name = TakeBstr(b);
    b = nullptr;
    if (acc_->get_accValue(child, &b) == S_OK) item.value = TakeBstr(b);
    b = nullptr;
    if (acc_->get_accDefaultAction(child, &b) == S_OK) item.action = TakeBstr(b);
    VARIANT v;
    ::VariantInit(&v);
    if (SUCCEEDED(acc_->get_accRole(child, &v)) && v.vt == VT_I4) item.role = v.lVal;
    ::VariantClear(&v);
    if (SUCCEEDED(acc_->get_accState(child, &v)) && v.vt == VT_I4) item.state = v.lVal;
    ::VariantClear(&v);
    LONG x = 0, y = 0, w = 0, h = 0;
    if (acc_->accLocation(&x, &y, &w, &h, child) == S_OK) item.screen = {x, y, x + w, y + h};
    return item;
}

AccessibleItem CAccessibleWalker::Self() { return acc_ ? Read(CHILDID_SELF) : AccessibleItem{}; }

std::vector<AccessibleItem> CAccessibleWalker::Children() {
    std::vector<AccessibleItem> items;
    if (acc_ == nullptr) return items;
    LONG count = 0;
    if (FAILED(acc_->get_accChildCount(&count)) || count <= 0) return items;
    std::vector<VARIANT> kids(static_cast<size_t>(count));
    LONG got = 0;
    if (FAILED(::AccessibleChildren(acc_, 0, count, kids.data(), &got))) return items;
    for (LONG i = 0; i < got; ++i) {
        if (kids[static_cast<size_t>(i)].vt == VT_I4) items.push_back(Read(kids[static_cast<size_t>(i)].lVal));
        ::VariantClear(&kids[static_cast<size_t>(i)]);
    }
    return items;
}

std::vector<AccessibleItem> CAccessibleWalker::ChildrenByIndex() {
    std::vector<AccessibleItem> items;
    LONG count = 0;
    if (acc_ == nullptr || FAILED(acc_->get_accChildCount(&count))) return items;
    for (LONG id = 1; id <= count; ++id) items.push_back(Read(id));
    return items;
}

std::vector<LONG> CAccessibleWalker::NavigationOrder() {
    std::vector<LONG> ids;
    if (acc_ == nullptr) return ids;
    VARIANT at;
    if (acc_->accNavigate(NAVDIR_FIRSTCHILD, ChildVariant(CHILDID_SELF), &at) != S_OK) return ids;
    // A bound, in case an object answers in a circle.
    while (at.vt == VT_I4 && ids.size() < 1000) {
        ids.push_back(at.lVal);
        VARIANT next;
        if (acc_->accNavigate(NAVDIR_NEXT, at, &next) != S_OK) break;
        at = next;
    }
    return ids;
}

AccessibleItem CAccessibleWalker::Find(const std::wstring& name) {
    for (const AccessibleItem& item : Children()) {
        if (item.name == name) return item;
    }
    return AccessibleItem{};
}

HRESULT CAccessibleWalker::DoDefaultAction(LONG id) {
    return acc_ ? acc_->accDoDefaultAction(ChildVariant(id)) : E_POINTER;
}

LONG CAccessibleWalker::Focus() {
    if (acc_ == nullptr) return -1;
    VARIANT v;
    ::VariantInit(&v);
    if (acc_->get_accFocus(&v) != S_OK) return -1;
    const LONG id = v.vt == VT_I4 ? v.lVal : -1;
    ::VariantClear(&v);
    return id;
}

LONG CAccessibleWalker::HitTest(POINT screen) {
    if (acc_ == nullptr) return -1;
    VARIANT v;
    ::VariantInit(&v);
    if (acc_->accHitTest(screen.x, screen.y, &v) != S_OK) return -1;
    const LONG id = v.vt == VT_I4 ? v.lVal : -1;
    ::VariantClear(&v);
    return id;
}

std::wstring CAccessibleWalker::RoleText(LONG role) {
    wchar_t text[128] = {};
    ::GetRoleTextW(static_cast<DWORD>(role), text, 128);
    return text;
}

std::wstring CAccessibleWalker::StateText(LONG state) {
    std::wstring out;
    for (int bit = 0; bit < 31; ++bit) {
        const DWORD flag = 1u << bit;
        if ((static_cast<DWORD>(state) & flag) == 0) continue;
        wchar_t text[128] = {};
        ::GetStateTextW(flag, text, 128);
        if (!out.empty()) out += L",";
        out += text;
    }
    return out.empty() ? L"normal" : out;
}

std::wstring CAccessibleWalker::Speech(const AccessibleItem& item) {
    std::wstring s = item.name.empty() ? L"(no name)" : item.name;
    s += L" " + RoleText(item.role);
    // What a reader adds: the states that matter to the user.
    const struct {
        LONG flag;
        const wchar_t* word;
    } kSaid[] = {{STATE_SYSTEM_CHECKED, L"checked"}, {STATE_SYSTEM_UNAVAILABLE, L"unavailable"}};
    for (const auto& said : kSaid) {
        if (item.state & said.flag) s += std::wstring(L" ") + said.word;
    }
    if (item.role == ROLE_SYSTEM_CHECKBUTTON && (item.state & STATE_SYSTEM_CHECKED) == 0) s += L" not checked";
    if (!item.value.empty()) s += L" " + item.value;
    return s;
}
