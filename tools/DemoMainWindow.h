#pragma once
// Demo window of the installer skin: page switching, a folder to type and a
// drawn progress bar that runs by itself. Shows the skin, installs nothing.
// Main thread only.
#include "Ui/WindowImplBase.h"

class CProgressUI;

class CDemoMainWindow : public WindowImplBase {
public:
    // page: the tab shown first; percent: a fixed bar position (-1 animates).
    CDemoMainWindow(int page, int percent) : startPage_(page), fixedPercent_(percent) {}
    // Out of line: GCC's link-time optimisation for this target otherwise
    // defines the implicit destructor twice (in both of the demo's objects).
    ~CDemoMainWindow() override;

protected:
    const wchar_t* GetWindowClassName() const override { return L"InstallPackages"; }
    std::wstring GetSkinFile() override { return L"InstallPackages.xml"; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnFinalMessage(HWND hwnd) override;

private:
    void ShowPage(int page);
    void DrawProgress(bool advance);

    int startPage_;
    int fixedPercent_;
    int percent10_ = 0;  // tenths of a percent
    int flashPos_ = 0;
    CProgressUI* progress_ = nullptr;
};
