#pragma once
// An unattended installation (/S): the installation controller with no
// window and no message box at all. It answers the controller's questions
// from the command line (the agreement counts as accepted; an earlier
// installation is installed over, or with /KEEP its launcher is started; a
// package failing its digest is downloaded again from each address alone),
// gives up retrying after /TIMEOUT= (at once on a disk failure, after a
// minute on a locked file), and ends the message loop with the run's exit
// code. Main thread only.
#include "App/CommandLine.h"
#include "App/InstallController.h"
#include "App/InstallView.h"

class CSilentRun : public IInstallView {
public:
    explicit CSilentRun(const InstallerOptions& options);

    // Starts the run; the message loop then carries it to its End.
    void Start(int sourceId);

    EarlierChoice AskAboutEarlierInstall() override;
    void InstallOverEarlier() override;
    void ShowDownloadProgress(int64_t, int64_t, uint64_t) override {}
    void ShowInstalling() override {}
    bool AnimatesInstall() const override { return false; }
    void ShowInstallAnimation(int) override {}
    void ShowFailureNotice(const std::wstring& text) override;
    // Nobody is there to free a file or a disk: such a failure ends the run.
    bool RetriesForEver() const override { return false; }
    bool OfferAnotherFolder(const std::wstring&) override { return false; }
    // Yes while an address is left that has not failed alone.
    bool AskDownloadAgain(bool sourcesLeft) override { return sourcesLeft; }
    void ShowDownloadRestarted() override {}
    // Ends the message loop with the exit code.
    void End(int exitCode) override;

private:
    // What the window's buttons do: the folder, its space, then the package.
    void BeginInstall();

    const InstallerOptions options_;
    CInstallController controller_{*this};
};
