#pragma once
// Base of every skinned control: name, position (flow or floating), fixed
// size, colours, background image, text, accessible name and role,
// visibility and enabled state, the painting order and event entry. Owned
// by its container. Main thread only.
#include <windows.h>

#include <cstdint>
#include <string>

#include "Ui/UiDefs.h"

class CPaintManagerUI;

class CControlUI {
public:
    CControlUI() = default;
    virtual ~CControlUI() = default;
    CControlUI(const CControlUI&) = delete;
    CControlUI& operator=(const CControlUI&) = delete;

    virtual const wchar_t* GetClass() const { return L"ControlUI"; }

    const std::wstring& GetName() const { return name_; }
    void SetName(const std::wstring& name) { name_ = name; }
    CPaintManagerUI* GetManager() const { return manager_; }
    CControlUI* GetParent() const { return parent_; }
    virtual void SetManager(CPaintManagerUI* manager, CControlUI* parent);

    // Position in client co-ordinates (device pixels), set by the layout.
    const RECT& GetPos() const { return rcItem_; }
    virtual void SetPos(const RECT& rc);
    bool IsFloat() const { return float_; }
    void SetFloat(bool value) { float_ = value; }
    // The markup's position, width and height, at 96 DPI.
    const RECT& GetFloatPos() const { return floatPos_; }
    void SetFloatPos(const RECT& rc) { floatPos_ = rc; }
    void SetFixedWidth(int cx);
    void SetFixedHeight(int cy);
    // The fixed width and height of the markup, at 96 DPI (0: none).
    int GetMarkupWidth() const { return fixedWidth_; }
    int GetMarkupHeight() const { return fixedHeight_; }
    // The fixed width and height at the window's scale (0: none).
    int GetFixedWidth() const { return Scaled(fixedWidth_); }
    int GetFixedHeight() const { return Scaled(fixedHeight_); }
    // The size the control asks of a stacking layout, at the window's scale;
    // 0 means "share the rest".
    virtual SIZE EstimateSize() const { return {GetFixedWidth(), GetFixedHeight()}; }

    virtual std::wstring GetText() const { return text_; }
    virtual void SetText(const std::wstring& text);
    const std::wstring& GetToolTip() const { return tooltip_; }
    // What a screen reader calls the control ("accname") and the kind it
    // reports ("accrole", a word such as "link"); empty: from the control.
    const std::wstring& GetAccName() const { return accName_; }
    void SetAccName(const std::wstring& name) { accName_ = name; }
    const std::wstring& GetAccRole() const { return accRole_; }
    void SetToolTip(const std::wstring& text) { tooltip_ = text; }
    uint32_t GetBkColor() const { return bkColor_; }
    void SetBkColor(uint32_t argb);
    uint32_t GetBorderColor() const { return borderColor_; }
    void SetBorderColor(uint32_t argb);
    const std::wstring& GetBkImage() const { return bkImage_; }
    void SetBkImage(const std::wstring& description);

    bool IsVisible() const { return visible_; }
    virtual void SetVisible(bool visible);
    // Visible itself and through every parent up to the root.
    bool IsShown() const;
    bool IsEnabled() const { return enabled_; }
    virtual void SetEnabled(bool enabled);
    bool IsFocused() const { return focused_; }
    virtual bool CanFocus() const { return false; }
    void SetFocus();
    // The part of the control the keyboard focus mark surrounds, and the
    // radius of the corners it shows there.
    virtual RECT GetFocusRect() { return rcItem_; }
    virtual int GetCornerRadius() { return 3; }

    // Sets one markup attribute; unknown names are ignored.
    virtual void SetAttribute(const std::wstring& name, const std::wstring& value);

    // The deepest shown control under the point (this one when no child is).
    virtual CControlUI* FindControlAt(POINT pt);
    // This control or a descendant with the given name.
    virtual CControlUI* FindControlByName(const std::wstring& name);

    virtual void DoEvent(TEventUI& event);
    // Called when this control or an ancestor is hidden; containers pass it
    // on to their children.
    virtual void OnHide() {}
    virtual bool Activate();
    virtual void DoPaint(HDC hdc, const RECT& rcPaint);

    void Invalidate();
    void NeedUpdate();        // this control must be laid out again
    void NeedParentUpdate();  // its parent must be laid out again

protected:
    // A length or rectangle of the markup (96 DPI) at the window's scale.
    int Scaled(int v) const;
    RECT Scaled(const RECT& rc) const;

    virtual void PaintBkColor(HDC hdc);
    virtual void PaintBkImage(HDC hdc, const RECT& rcPaint);
    virtual void PaintStatusImage(HDC hdc, const RECT& rcPaint);
    virtual void PaintText(HDC hdc);
    virtual void PaintBorder(HDC hdc);
    // Draws an image description (plus an optional modifying one) over this
    // control; false when its image could not be loaded.
    bool DrawImage(HDC hdc, const std::wstring& description, const RECT& rcPaint, const std::wstring& modify = L"");

    CPaintManagerUI* manager_ = nullptr;
    CControlUI* parent_ = nullptr;
    std::wstring name_;
    RECT rcItem_{};
    RECT floatPos_{};
    bool float_ = false;
    int fixedWidth_ = 0;
    int fixedHeight_ = 0;
    std::wstring text_;
    std::wstring tooltip_;
    std::wstring accName_;
    std::wstring accRole_;
    uint32_t bkColor_ = 0;
    uint32_t borderColor_ = 0;
    int borderSize_ = 1;
    std::wstring bkImage_;
    bool visible_ = true;
    bool enabled_ = true;
    bool focused_ = false;

    friend class CPaintManagerUI;
};
