#include "Ui/AccessibleWindow.h"

#include <vector>

#include "Ui/AccessibleIds.h"
#include "Ui/AccessibleInfo.h"
#include "Ui/ControlUI.h"
#include "Ui/EditUI.h"
#include "Ui/OleaccLibrary.h"
#include "Ui/PaintManagerUI.h"

namespace {
bool IsChildVariant(const VARIANT& v) { return v.vt == VT_I4; }

void SetI4(VARIANT* v, LONG value) {
    ::VariantInit(v);
    v->vt = VT_I4;
    v->lVal = value;
}
}  // namespace

UINT CAccessibleWindow::ActionMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"KvAccessibleDefaultAction");
    return message;
}

// ---------------------------------------------------------------- IUnknown

HRESULT CAccessibleWindow::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, kv::kIidUnknown) || IsEqualIID(riid, kv::kIidDispatch) ||
        IsEqualIID(riid, kv::kIidAccessible)) {
        *out = static_cast<IAccessible*>(this);
    } else if (IsEqualIID(riid, kv::kIidEnumVariant)) {
        *out = static_cast<IEnumVARIANT*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CAccessibleWindow::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

ULONG CAccessibleWindow::Release() {
    const LONG left = ::InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

// --------------------------------------------------------------- IDispatch

HRESULT CAccessibleWindow::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT CAccessibleWindow::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT CAccessibleWindow::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT CAccessibleWindow::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

// ------------------------------------------------------------------ helpers

HWND CAccessibleWindow::Window() const { return manager_ ? manager_->GetPaintWindow() : nullptr; }

HRESULT CAccessibleWindow::Resolve(const VARIANT& child, CControlUI** control) const {
    *control = nullptr;
    if (manager_ == nullptr || Window() == nullptr) return CO_E_OBJNOTCONNECTED;
    if (!IsChildVariant(child)) return E_INVALIDARG;
    if (child.lVal == CHILDID_SELF) return S_OK;
    *control = CAccessibleInfo::FromChildId(manager_->GetRoot(), child.lVal);
    return *control ? S_OK : E_INVALIDARG;
}

HRESULT CAccessibleWindow::ReturnText(const std::wstring& text, BSTR* out) {
    if (text.empty()) return S_FALSE;
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// ------------------------------------------------------------- IAccessible

// The window's own object (its frame, caption and system menu) is the
// parent, as for any window's client area.
HRESULT CAccessibleWindow::get_accParent(IDispatch** parent) {
    if (parent == nullptr) return E_POINTER;
    *parent = nullptr;
    const HWND hwnd = Window();
    if (hwnd == nullptr) return CO_E_OBJNOTCONNECTED;
    const HRESULT hr = COleaccLibrary::CreateStdObject(hwnd, OBJID_WINDOW, kv::kIidDispatch, reinterpret_cast<void**>(parent));
    return SUCCEEDED(hr) && *parent ? S_OK : S_FALSE;
}

HRESULT CAccessibleWindow::get_accChildCount(LONG* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    if (manager_ == nullptr) return CO_E_OBJNOTCONNECTED;
    manager_->LayoutIfNeeded();
    *count = static_cast<LONG>(CAccessibleInfo::ShownChildren(manager_->GetRoot()).size());
    return S_OK;
}

// Children are simple elements: the caller asks this object about them.
HRESULT CAccessibleWindow::get_accChild(VARIANT child, IDispatch** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    if (control == nullptr) return E_INVALIDARG;
    return S_FALSE;
}

HRESULT CAccessibleWindow::get_accName(VARIANT child, BSTR* name) {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    if (control) return ReturnText(CAccessibleInfo::Name(*control), name);
    const HWND hwnd = Window();
    std::wstring title(static_cast<size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    title.resize(static_cast<size_t>(::GetWindowTextW(hwnd, &title[0], static_cast<int>(title.size()))));
    return ReturnText(title, name);
}

HRESULT CAccessibleWindow::get_accValue(VARIANT child, BSTR* value) {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    if (control == nullptr || !CAccessibleInfo::HasValue(*control)) return DISP_E_MEMBERNOTFOUND;
    const std::wstring text = CAccessibleInfo::Value(*control);
    // An empty edit has the empty string as its value, not none.
    *value = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT CAccessibleWindow::get_accDescription(VARIANT child, BSTR* text) {
    if (text == nullptr) return E_POINTER;
    *text = nullptr;
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    // A tool tip that is not already the name describes the control.
    if (control && control->GetToolTip() != CAccessibleInfo::Name(*control))
        return ReturnText(control->GetToolTip(), text);
    return S_FALSE;
}

HRESULT CAccessibleWindow::get_accRole(VARIANT child, VARIANT* role) {
    if (role == nullptr) return E_POINTER;
    ::VariantInit(role);
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    SetI4(role, control ? CAccessibleInfo::Role(*control) : CAccessibleInfo::WindowRole(*manager_));
    return S_OK;
}

HRESULT CAccessibleWindow::get_accState(VARIANT child, VARIANT* state) {
    if (state == nullptr) return E_POINTER;
    ::VariantInit(state);
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    if (control) {
        SetI4(state, CAccessibleInfo::State(*control, *manager_));
        return S_OK;
    }
    const HWND hwnd = Window();
    LONG s = STATE_SYSTEM_FOCUSABLE;
    if (::GetFocus() == hwnd && manager_->GetFocus() == nullptr) s |= STATE_SYSTEM_FOCUSED;
    if (!::IsWindowEnabled(hwnd)) s |= STATE_SYSTEM_UNAVAILABLE;
    if (!::IsWindowVisible(hwnd)) s |= STATE_SYSTEM_INVISIBLE;
    if (::IsIconic(hwnd)) s |= STATE_SYSTEM_OFFSCREEN;
    SetI4(state, s);
    return S_OK;
}

HRESULT CAccessibleWindow::get_accHelp(VARIANT, BSTR* help) {
    if (help) *help = nullptr;
    return manager_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT CAccessibleWindow::get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) {
    if (file) *file = nullptr;
    if (topic) *topic = -1;
    return manager_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT CAccessibleWindow::get_accKeyboardShortcut(VARIANT, BSTR* shortcut) {
    if (shortcut) *shortcut = nullptr;
    return manager_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

// The control holding the keyboard focus, the window itself when it has
// the keyboard but no control does, nothing when another window has it.
HRESULT CAccessibleWindow::get_accFocus(VARIANT* child) {
    if (child == nullptr) return E_POINTER;
    ::VariantInit(child);
    if (manager_ == nullptr || Window() == nullptr) return CO_E_OBJNOTCONNECTED;
    if (!CAccessibleInfo::WindowHasFocus(Window())) return S_FALSE;
    CControlUI* focus = manager_->GetFocus();
    SetI4(child, focus && focus->IsShown() ? CAccessibleInfo::ChildId(manager_->GetRoot(), focus) : CHILDID_SELF);
    return S_OK;
}

HRESULT CAccessibleWindow::get_accSelection(VARIANT* children) {
    if (children) ::VariantInit(children);
    return manager_ ? S_FALSE : CO_E_OBJNOTCONNECTED;
}

HRESULT CAccessibleWindow::get_accDefaultAction(VARIANT child, BSTR* action) {
    if (action == nullptr) return E_POINTER;
    *action = nullptr;
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    return control ? ReturnText(CAccessibleInfo::DefaultAction(*control), action) : S_FALSE;
}

// Only taking the focus is offered (there is nothing to select); it is the
// focus Tab gives, with the focus mark.
HRESULT CAccessibleWindow::accSelect(LONG flags, VARIANT child) {
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    if (flags != SELFLAG_TAKEFOCUS) return E_INVALIDARG;
    const HWND hwnd = Window();
    if (!::IsWindowEnabled(hwnd)) return E_FAIL;
    if (control && (!control->IsShown() || !control->IsEnabled() || !control->CanFocus())) return E_FAIL;
    ::SetFocus(hwnd);
    manager_->SetFocus(control, kFocusByKeyboard);
    return S_OK;
}

// Screen co-ordinates of the control's rectangle, mapped from the client
// area by the system, so they follow the window wherever it is and however
// it is scaled.
HRESULT CAccessibleWindow::accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
    *left = *top = *width = *height = 0;
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    const HWND hwnd = Window();
    RECT rc{};
    if (control) {
        if (!control->IsShown()) return S_FALSE;
        manager_->LayoutIfNeeded();
        rc = control->GetPos();
    } else {
        ::GetClientRect(hwnd, &rc);
    }
    POINT corners[2] = {{rc.left, rc.top}, {rc.right, rc.bottom}};
    ::ClientToScreen(hwnd, &corners[0]);
    ::ClientToScreen(hwnd, &corners[1]);
    *left = corners[0].x;
    *top = corners[0].y;
    *width = corners[1].x - corners[0].x;
    *height = corners[1].y - corners[0].y;
    return S_OK;
}

HRESULT CAccessibleWindow::accNavigate(LONG dir, VARIANT start, VARIANT* end) {
    if (end == nullptr) return E_POINTER;
    ::VariantInit(end);
    CControlUI* from = nullptr;
    const HRESULT hr = Resolve(start, &from);
    if (FAILED(hr)) return hr;
    manager_->LayoutIfNeeded();
    CControlUI* root = manager_->GetRoot();
    const std::vector<CControlUI*> shown = CAccessibleInfo::ShownChildren(root);
    if (shown.empty()) return S_FALSE;
    CControlUI* to = nullptr;
    if (from == nullptr) {
        if (dir == NAVDIR_FIRSTCHILD) to = shown.front();
        else if (dir == NAVDIR_LASTCHILD) to = shown.back();
        else return S_FALSE;  // siblings of the window are the system's business
    } else {
        size_t i = 0;
        while (i < shown.size() && shown[i] != from) ++i;
        if (i == shown.size()) return S_FALSE;
        if ((dir == NAVDIR_NEXT || dir == NAVDIR_DOWN || dir == NAVDIR_RIGHT) && i + 1 < shown.size()) to = shown[i + 1];
        else if ((dir == NAVDIR_PREVIOUS || dir == NAVDIR_UP || dir == NAVDIR_LEFT) && i > 0) to = shown[i - 1];
    }
    if (to == nullptr) return S_FALSE;
    SetI4(end, CAccessibleInfo::ChildId(root, to));
    return S_OK;
}

// The listed control under the point, as the mouse finds it; where the
// mouse finds only layout (a container lying over a progress bar, say), the
// topmost shown child there; the window itself over anything else of the
// client area; nothing outside it.
HRESULT CAccessibleWindow::accHitTest(LONG x, LONG y, VARIANT* child) {
    if (child == nullptr) return E_POINTER;
    ::VariantInit(child);
    if (manager_ == nullptr || Window() == nullptr) return CO_E_OBJNOTCONNECTED;
    const HWND hwnd = Window();
    POINT pt{x, y};
    ::ScreenToClient(hwnd, &pt);
    RECT client{};
    ::GetClientRect(hwnd, &client);
    if (!::PtInRect(&client, pt)) return S_FALSE;
    manager_->LayoutIfNeeded();
    CControlUI* hit = manager_->FindControl(pt);
    while (hit && !CAccessibleInfo::IsListed(*hit)) hit = hit->GetParent();
    if (hit == nullptr) {
        const std::vector<CControlUI*> shown = CAccessibleInfo::ShownChildren(manager_->GetRoot());
        for (auto it = shown.rbegin(); it != shown.rend() && hit == nullptr; ++it) {
            if (::PtInRect(&(*it)->GetPos(), pt)) hit = *it;
        }
    }
    SetI4(child, hit ? CAccessibleInfo::ChildId(manager_->GetRoot(), hit) : CHILDID_SELF);
    return S_OK;
}

// Checked here so the caller learns of a refusal; carried out later by the
// window (CPaintManagerUI::Click) exactly as a mouse click would be.
HRESULT CAccessibleWindow::accDoDefaultAction(VARIANT child) {
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    if (control == nullptr || CAccessibleInfo::DefaultAction(*control).empty()) return DISP_E_MEMBERNOTFOUND;
    const HWND hwnd = Window();
    if (!control->IsShown() || !control->IsEnabled() || !::IsWindowEnabled(hwnd)) return E_FAIL;
    // The control itself, not its id: ids change with the page.
    return ::PostMessageW(hwnd, ActionMessage(), 0, reinterpret_cast<LPARAM>(control)) ? S_OK : E_FAIL;
}

HRESULT CAccessibleWindow::put_accName(VARIANT, BSTR) { return manager_ ? E_NOTIMPL : CO_E_OBJNOTCONNECTED; }

// The edit's text can be set as if typed in, so not while typing could not
// reach it (hidden, disabled, read-only, or the window disabled under a
// modal box).
HRESULT CAccessibleWindow::put_accValue(VARIANT child, BSTR value) {
    CControlUI* control = nullptr;
    const HRESULT hr = Resolve(child, &control);
    if (FAILED(hr)) return hr;
    auto* edit = dynamic_cast<CEditUI*>(control);
    if (edit == nullptr) return DISP_E_MEMBERNOTFOUND;
    if (!edit->IsShown() || !edit->IsEnabled() || edit->IsReadOnly() || !::IsWindowEnabled(Window())) return E_FAIL;
    edit->SetText(value ? std::wstring(value, ::SysStringLen(value)) : std::wstring());
    return S_OK;
}

// ------------------------------------------------------------ IEnumVARIANT

HRESULT CAccessibleWindow::Next(ULONG count, VARIANT* out, ULONG* fetched) {
    if (fetched) *fetched = 0;
    if (out == nullptr) return E_POINTER;
    if (manager_ == nullptr) return CO_E_OBJNOTCONNECTED;
    manager_->LayoutIfNeeded();
    CControlUI* root = manager_->GetRoot();
    const std::vector<CControlUI*> shown = CAccessibleInfo::ShownChildren(root);
    ULONG n = 0;
    while (n < count && cursor_ < shown.size()) {
        SetI4(&out[n], CAccessibleInfo::ChildId(root, shown[cursor_]));
        ++n;
        ++cursor_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT CAccessibleWindow::Skip(ULONG count) {
    if (manager_ == nullptr) return CO_E_OBJNOTCONNECTED;
    const ULONG total = static_cast<ULONG>(CAccessibleInfo::ShownChildren(manager_->GetRoot()).size());
    cursor_ += count;
    if (cursor_ > total) {
        cursor_ = total;
        return S_FALSE;
    }
    return S_OK;
}

HRESULT CAccessibleWindow::Reset() {
    cursor_ = 0;
    return manager_ ? S_OK : CO_E_OBJNOTCONNECTED;
}

// No clones: the window detaches only the object it handed out, and a
// clone would go on pointing at a paint manager that is gone.
HRESULT CAccessibleWindow::Clone(IEnumVARIANT** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
}
