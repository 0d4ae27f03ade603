#pragma once
// The IAccessible object of a skinned window's client area, handed out for
// WM_GETOBJECT (OBJID_CLIENT). CHILDID_SELF is the window itself; its
// children are the shown controls as simple elements, numbered 1..n in
// Tab order (CAccessibleInfo), asked for by index or enumerated through
// IEnumVARIANT on the same object. A default action is posted to the window
// and carried out there as a click, so the call returns at once even when
// the click opens a modal box. Once the window is gone (Detach) every call
// fails with CO_E_OBJNOTCONNECTED. Main thread only (COM's single-threaded
// apartment brings other processes' calls there).
#include <windows.h>
#include <oleacc.h>

#include <string>

class CPaintManagerUI;
class CControlUI;

class CAccessibleWindow : public IAccessible, public IEnumVARIANT {
public:
    explicit CAccessibleWindow(CPaintManagerUI* manager) : manager_(manager) {}
    CAccessibleWindow(const CAccessibleWindow&) = delete;
    CAccessibleWindow& operator=(const CAccessibleWindow&) = delete;

    // The window message that carries a posted default action (lParam: the
    // control, looked for in the tree when the message arrives).
    static UINT ActionMessage();
    void Detach() { manager_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: no type information; readers use the IAccessible methods.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(LONG dir, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override;
    // IEnumVARIANT: the shown children's ids.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override;

private:
    virtual ~CAccessibleWindow() = default;

    // Resolves a VARIANT child: S_OK with *control null for CHILDID_SELF;
    // E_INVALIDARG for an id that names no listed control; the not-connected
    // error once detached.
    HRESULT Resolve(const VARIANT& child, CControlUI** control) const;
    HWND Window() const;
    static HRESULT ReturnText(const std::wstring& text, BSTR* out);

    LONG refs_ = 1;
    CPaintManagerUI* manager_;
    ULONG cursor_ = 0;  // the enumeration's position among the shown children
};
