#pragma once
// Single-line text entry. Painted as a label; while open for typing a real
// Windows EDIT child lies over its text area (caret, selection, IME and
// clipboard come with it). "textchanged" follows every change made by the
// user, and every SetText made by code while the box is not open (also one
// that repeats the text). The native window answers screen readers with the
// control's accessible name. Main thread only.
#include "Runtime/Handles.h"
#include "Ui/LabelUI.h"

class CEditUI : public CLabelUI {
public:
    CEditUI();
    ~CEditUI() override;
    const wchar_t* GetClass() const override { return L"EditUI"; }

    std::wstring GetText() const override;
    void SetText(const std::wstring& text) override;
    bool IsReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);
    // password="true": the text is shown as dots, typed into a password box
    // (no copying out), and never told to accessibility clients.
    bool IsPassword() const { return password_; }
    // True while the native edit window is shown for typing.
    bool IsEditing() const { return editing_; }
    HWND GetNativeWindow() const { return native_; }

    bool CanFocus() const override { return true; }
    void DoEvent(TEventUI& event) override;
    void SetPos(const RECT& rc) override;
    void SetEnabled(bool enabled) override;
    void SetAttribute(const std::wstring& name, const std::wstring& value) override;

    // Called by the paint manager for the native window's notifications.
    void OnNativeChange();
    HBRUSH OnNativeColor(HDC hdc);

    void OnHide() override;

protected:
    int EstimateExtra() const override { return 6; }
    void PaintText(HDC hdc) override;
    std::wstring PaintedText() const override;
    // In high contrast the box is framed in the text colour.
    void PaintBorder(HDC hdc) override;

private:
    static LRESULT CALLBACK NativeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    // Opens the native window; the caret goes to the character nearest
    // `click` (client co-ordinates) when given, else the whole text is
    // selected or the caret put at its end.
    void OpenEditor(const POINT* click, bool selectAll);
    void CloseEditor();
    RECT NativeRect() const;

    bool readOnly_ = false;
    bool password_ = false;
    int maxChars_ = 255;
    bool editing_ = false;
    bool closing_ = false;
    HWND native_ = nullptr;
    WNDPROC nativeDefault_ = nullptr;
    kv::UniqueBrush bkBrush_;
    COLORREF bkBrushColor_ = 0;
};
