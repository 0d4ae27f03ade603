#include "Ui/NamedAccessible.h"

#include <utility>

#include "Ui/AccessibleIds.h"

CNamedAccessible::CNamedAccessible(IAccessible* inner, std::wstring name) : inner_(inner), name_(std::move(name)) {
    inner_->AddRef();
}

CNamedAccessible::~CNamedAccessible() { inner_->Release(); }

// Other interfaces (the window, the enumeration) are the system object's.
HRESULT CNamedAccessible::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    if (!IsEqualIID(riid, kv::kIidUnknown) && !IsEqualIID(riid, kv::kIidDispatch) && !IsEqualIID(riid, kv::kIidAccessible))
        return inner_->QueryInterface(riid, out);
    *out = static_cast<IAccessible*>(this);
    AddRef();
    return S_OK;
}

ULONG CNamedAccessible::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

ULONG CNamedAccessible::Release() {
    const LONG left = ::InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT CNamedAccessible::get_accName(VARIANT child, BSTR* name) {
    if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) return inner_->get_accName(child, name);
    if (name == nullptr) return E_POINTER;
    *name = ::SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT CNamedAccessible::GetTypeInfoCount(UINT* count) { return inner_->GetTypeInfoCount(count); }
HRESULT CNamedAccessible::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
    return inner_->GetTypeInfo(index, lcid, info);
}
HRESULT CNamedAccessible::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
    return inner_->GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT CNamedAccessible::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* info, UINT* arg) {
    return inner_->Invoke(id, riid, lcid, flags, params, result, info, arg);
}
HRESULT CNamedAccessible::get_accParent(IDispatch** parent) { return inner_->get_accParent(parent); }
HRESULT CNamedAccessible::get_accChildCount(LONG* count) { return inner_->get_accChildCount(count); }
HRESULT CNamedAccessible::get_accChild(VARIANT child, IDispatch** out) { return inner_->get_accChild(child, out); }
HRESULT CNamedAccessible::get_accValue(VARIANT child, BSTR* value) { return inner_->get_accValue(child, value); }
HRESULT CNamedAccessible::get_accDescription(VARIANT child, BSTR* text) { return inner_->get_accDescription(child, text); }
HRESULT CNamedAccessible::get_accRole(VARIANT child, VARIANT* role) { return inner_->get_accRole(child, role); }
HRESULT CNamedAccessible::get_accState(VARIANT child, VARIANT* state) { return inner_->get_accState(child, state); }
HRESULT CNamedAccessible::get_accHelp(VARIANT child, BSTR* help) { return inner_->get_accHelp(child, help); }
HRESULT CNamedAccessible::get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) {
    return inner_->get_accHelpTopic(file, child, topic);
}
HRESULT CNamedAccessible::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) {
    return inner_->get_accKeyboardShortcut(child, shortcut);
}
HRESULT CNamedAccessible::get_accFocus(VARIANT* child) { return inner_->get_accFocus(child); }
HRESULT CNamedAccessible::get_accSelection(VARIANT* children) { return inner_->get_accSelection(children); }
HRESULT CNamedAccessible::get_accDefaultAction(VARIANT child, BSTR* action) {
    return inner_->get_accDefaultAction(child, action);
}
HRESULT CNamedAccessible::accSelect(LONG flags, VARIANT child) { return inner_->accSelect(flags, child); }
HRESULT CNamedAccessible::accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) {
    return inner_->accLocation(left, top, width, height, child);
}
HRESULT CNamedAccessible::accNavigate(LONG dir, VARIANT start, VARIANT* end) { return inner_->accNavigate(dir, start, end); }
HRESULT CNamedAccessible::accHitTest(LONG x, LONG y, VARIANT* child) { return inner_->accHitTest(x, y, child); }
HRESULT CNamedAccessible::accDoDefaultAction(VARIANT child) { return inner_->accDoDefaultAction(child); }
HRESULT CNamedAccessible::put_accName(VARIANT child, BSTR name) { return inner_->put_accName(child, name); }
HRESULT CNamedAccessible::put_accValue(VARIANT child, BSTR value) { return inner_->put_accValue(child, value); }
