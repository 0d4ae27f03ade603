#pragma once
// The installer window ("InstallPackages.xml", class "InstallPackages") and
// the controller of the whole installation: welcome, folder and progress
// pages, the earlier-installation question, the exit confirmation, and the
// package phase (update module reports, retries, hand-off to the install
// thread). Lives in the entry function for the whole run. Main thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "App/InstallJob.h"
#include "Ui/WindowImplBase.h"
#include "Updater/GameEventListener.h"

class CButtonUI;
class CEditUI;
class CLabelUI;
class CMsgBoxDlg;
class COptionUI;
class CProgressUI;
class CTabLayoutUI;
class CUpdateModule;

class CMainDlg : public WindowImplBase, public IGameEventListener {
public:
    static constexpr UINT_PTR kTimerInstallAnim = 11;
    static constexpr UINT_PTR kTimerRetry = 12;
    static constexpr UINT_PTR kTimerAskExisting = 13;
    static constexpr UINT kProgressTimer = 1;

    CMainDlg();
    ~CMainDlg() override;

    // IGameEventListener (the update module's reports, main thread).
    void OnProgress(int64_t total, int64_t complete, uint64_t speed) override;
    void OnDone(int errtype, int code, const std::wstring& message) override;
    void OnDescriptor(int errtype, int code, const std::wstring& version, const std::wstring& md5) override;

protected:
    const wchar_t* GetWindowClassName() const override { return L"InstallPackages"; }
    std::wstring GetSkinFile() override { return L"InstallPackages.xml"; }
    std::wstring GetSkinFolder() override { return L"no use"; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnFinalMessage(HWND hwnd) override;

private:
    // Welcome and folder pages.
    void OnClick(TNotifyUI& msg) override;
    void ConfirmExit();
    bool CheckAgreement();
    void SettleInstallDir();
    void OnInstallFromFolderPage();
    void OnSelectFolder();
    void OpenAgreement();
    void UpdateFreeSpace();
    void ApplyLocalPackage();
    void SetProductIcon();
    void SelectPage(int page);
    void OnAskExistingTimer();
    LRESULT OnCloseRequest(WPARAM wParam, bool& handled);

    // Package phase.
    void BeginPackagePhase();
    bool StartUpdateModule();
    void DeleteUpdateModule();
    void OnRetryTimer();
    void StartInstall();
    void OnInstallAnimTimer();
    void OnPackageCorrupt();
    void ShowFailureNotice(const std::wstring& text);

    int AnimCounter() const { return m_install ? m_install->animCounter.load() : 0; }
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

    std::wstring m_installDir;
    std::wstring m_launcherExe;
    std::wstring m_packageDir;
    std::wstring m_packagePath;
    int m_sourceId = 0;
    int m_flashPos = 0;
    int64_t m_total = 0;
    int64_t m_complete = 0;
    bool m_failNoticeArmed = true;
    bool m_existingInstall = false;
    bool m_keepPackage = false;
    bool m_packageReady = false;
    std::wstring m_expectedMd5;
    std::wstring m_expectedSha256;  // the descriptor's optional Sha256, or the signed local package's
    CMsgBoxDlg* m_exitBox = nullptr;
    bool m_closingAfterLaunch = false;  // "直接启动" started the old launcher
    std::unique_ptr<CUpdateModule> m_updater;
    // Shared with the install thread; holds the install-animation counter
    // and the "package process ended" flag.
    std::shared_ptr<CInstallJob> m_install;
};
