#include "App/InstallerWindow.h"

#include "Ui/SkinPackage.h"

void CInstallerWindow::OnFinalMessage(HWND hwnd) {
    WindowImplBase::OnFinalMessage(hwnd);
    // The window owns the run: its end releases the skin and ends the loop.
    CSkinPackage::Instance().Close();
    ::PostQuitMessage(0);
}
