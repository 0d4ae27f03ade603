#pragma once
// Base of the skinned windows: loads the skin at creation, answers the
// non-client messages of a borderless window (drag area, rounded region,
// work-area maximising, SC_CLOSE as WM_CLOSE with IDCANCEL), adds the shadow
// window, follows a change of display scale (WM_DPICHANGED), and gives the
// default reactions to Escape and to clicks on btn_close, btn_min, btn_max
// and btn_restore. Enter activates a control focused by Tab. Main thread only.
#include <string>

#include "Ui/PaintManagerUI.h"
#include "Ui/UiDefs.h"
#include "Ui/WindowWnd.h"

class CWndShadow;

class WindowImplBase : public CWindowWnd, public INotifyUI, public IMessageFilterUI, public IDialogBuilderCallback {
public:
    WindowImplBase() = default;
    ~WindowImplBase() override = default;

    CPaintManagerUI& GetPaintManager() { return m_PaintManager; }
    CControlUI* FindControl(const std::wstring& name) const { return m_PaintManager.FindControl(name); }
    template <typename T>
    T* FindControlAs(const std::wstring& name) const {
        return dynamic_cast<T*>(m_PaintManager.FindControl(name));
    }
    // Answer of the hit test for a point in client co-ordinates (exposed so
    // tests can check the drag area without synthesising mouse input).
    LRESULT HitTestClient(POINT pt);

    void Notify(TNotifyUI& msg) override;
    LRESULT MessageHandler(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    CControlUI* CreateControl(const wchar_t* className) override;

protected:
    virtual std::wstring GetSkinFile() = 0;
    virtual std::wstring GetSkinFolder() { return L""; }
    virtual void InitWindow() {}
    virtual void OnClick(TNotifyUI& msg);
    // Escape closes the window with 1; returns true when the key was used.
    virtual LRESULT ResponseDefaultKeyEvent(WPARAM wParam);
    // Messages the derived window wants first; set handled to stop the rest.
    virtual LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);

    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    void OnFinalMessage(HWND hwnd) override;

    virtual LRESULT OnCreate(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnClose(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnDestroy(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcActivate(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcCalcSize(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcPaint(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcHitTest(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnNcLButtonDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnGetMinMaxInfo(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSize(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    virtual LRESULT OnKeyDown(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    // The window moved to a monitor of another scale: it takes the system's
    // suggested rectangle (only its position when the window is already laid
    // out at that DPI) and lays itself out again at the new DPI.
    virtual LRESULT OnDpiChanged(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);

    CPaintManagerUI m_PaintManager;

private:
    bool IsDraggable(const CControlUI* control) const;
    // The rounded window region for the current size and scale.
    void UpdateRegion();
};
