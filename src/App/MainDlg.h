#pragma once
// The installer window ("InstallPackages.xml", class "InstallPackages"): the
// view of the installation controller with welcome, folder and progress
// pages, the earlier-installation question, the exit confirmation and the
// notices. Lives in the entry function for the whole run. Main thread only.
#include <cstdint>
#include <string>

#include "App/CommandLine.h"
#include "App/InstallController.h"
#include "App/InstallView.h"
#include "Ui/WindowImplBase.h"

class CButtonUI;
class CEditUI;
class CLabelUI;
class CMsgBoxDlg;
class COptionUI;
class CProgressUI;
class CTabLayoutUI;

class CMainDlg : public WindowImplBase, public IInstallView {
public:
    static constexpr UINT kProgressTimer = 1;

    // /D= proposes the folder, /NOLAUNCH keeps the launcher from starting.
    explicit CMainDlg(const InstallerOptions& options);
    ~CMainDlg() override;

protected:
    const wchar_t* GetWindowClassName() const override { return L"InstallPackages"; }
    std::wstring GetSkinFile() override { return L"InstallPackages.xml"; }
    std::wstring GetSkinFolder() override { return L"no use"; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnFinalMessage(HWND hwnd) override;

    // IInstallView
    EarlierChoice AskAboutEarlierInstall() override;
    void InstallOverEarlier() override;
    void ShowDownloadProgress(int64_t total, int64_t complete, uint64_t speed) override;
    void ShowInstalling() override;
    bool AnimatesInstall() const override { return true; }
    void ShowInstallAnimation(int counter) override;
    void ShowFailureNotice(const std::wstring& text) override;
    bool RetriesForEver() const override { return true; }
    bool OfferAnotherFolder(const std::wstring& text) override;
    bool AskDownloadAgain(bool sourcesLeft) override;
    bool AskProxyLogin() override;
    void ShowDownloadRestarted() override;
    void ShowStartFromMenu() override;
    void End(int exitCode) override;

private:
    // The information box with its one button.
    void ShowTip(const std::wstring& text);
    // Welcome and folder pages.
    void OnClick(TNotifyUI& msg) override;
    void ConfirmExit();
    bool CheckAgreement();
    void OnInstallFromFolderPage();
    void OnSelectFolder();
    void OpenAgreement();
    void UpdateFreeSpace();
    void SetProductIcon();
    void SelectPage(int page);
    void ProposeFolder();
    // The texts' lengths differ by language: the agreement option hugs its
    // text, the link follows it, the free space follows its label.
    void FitTextRuns();
    LRESULT OnCloseRequest(WPARAM wParam, bool& handled);

    void DrawProgress(bool advance);

    CProgressUI* m_progress = nullptr;
    CLabelUI* m_lbDownload = nullptr;
    CLabelUI* m_lbSpeed = nullptr;
    CButtonUI* m_btnClose = nullptr;
    CButtonUI* m_btnInstall = nullptr;
    CButtonUI* m_btnInstall2 = nullptr;
    CButtonUI* m_btnFree = nullptr;
    CEditUI* m_editInput = nullptr;
    CButtonUI* m_btnSelect = nullptr;
    CLabelUI* m_lbLeftSpace = nullptr;
    CButtonUI* m_btnAgreement = nullptr;
    COptionUI* m_optAgree = nullptr;
    CTabLayoutUI* m_tabMain = nullptr;

    const InstallerOptions m_options;
    int m_flashPos = 0;
    int m_drawnFill = -1;  // the fill of the bar's current description; -1: not drawn by DrawProgress
    CMsgBoxDlg* m_exitBox = nullptr;
    CInstallController m_controller{*this};
};
