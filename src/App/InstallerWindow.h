#pragma once
// The installer window built from "InstallPackages.xml": borderless, skinned,
// with the framework's default reactions (drag, minimise, close, Escape).
// Destroying it ends the message loop. Main thread only.
#include "Ui/WindowImplBase.h"

class CInstallerWindow : public WindowImplBase {
protected:
    const wchar_t* GetWindowClassName() const override { return L"InstallPackages"; }
    std::wstring GetSkinFile() override { return L"InstallPackages.xml"; }
    void OnFinalMessage(HWND hwnd) override;
};
