#pragma once
// What the installation controller needs from whoever presents it: the
// installer window, or an unattended run that shows nothing. The controller
// decides; the view shows, asks the user (or answers from the command line)
// and ends the run. Main thread only.
#include <cstdint>
#include <string>

enum class EarlierChoice { kInstallOver, kStartIt };

class IInstallView {
public:
    // An earlier installation was found (100 ms after start): install over it
    // or start its launcher.
    virtual EarlierChoice AskAboutEarlierInstall() = 0;
    // Installing over the earlier installation was chosen, or its launcher
    // could not be started: go on towards the installation.
    virtual void InstallOverEarlier() = 0;

    virtual void ShowDownloadProgress(int64_t total, int64_t complete, uint64_t speed) = 0;
    // The package is in place and its hand-off begins.
    virtual void ShowInstalling() = 0;
    // Whether the hand-off waits for the 0..900 install animation; without
    // it the launcher starts as soon as the package has ended.
    virtual bool AnimatesInstall() const = 0;
    virtual void ShowInstallAnimation(int counter) = 0;
    // A failure the automatic retries go on from; told once per run of
    // failures, and again when its kind changes within the run.
    virtual void ShowFailureNotice(const std::wstring& text) = 0;
    // Whether someone is there to mend what the retries cannot outwait (a
    // file held past the give-up): the window tells it and retries on; an
    // unattended run ends with the failure's exit code instead.
    virtual bool RetriesForEver() const = 0;
    // The package folder's disk is full or unwritable; `text` names the
    // folder and the room missing. True when the user has been told and is
    // back on the folder page, where installing again starts a new package
    // phase; false ends the run.
    virtual bool OfferAnotherFolder(const std::wstring& text) = 0;
    // A package downloaded from one address alone failed its digest check;
    // `sourcesLeft` says whether another address may still give a good one.
    // True downloads it again (from that address, or from every address
    // once none is left).
    virtual bool AskDownloadAgain(bool sourcesLeft) = 0;
    virtual void ShowDownloadRestarted() = 0;
    // A proxy wants a user name and password that the run does not have (or
    // refused the ones it has): true when the user gave them (CProxyLogin
    // holds them now) and the transfer is to be tried again at once. Asked
    // at most once per run; a view that cannot ask answers false.
    virtual bool AskProxyLogin() { return false; }

    // Installed (or kept), but the launcher could not be started for anyone:
    // the user is told to start it from the Start menu or the desktop.
    virtual void ShowStartFromMenu() {}

    // The run is over with this outcome (an InstallerExitCode); the
    // controller has stopped everything. Called once.
    virtual void End(int exitCode) = 0;

protected:
    ~IInstallView() = default;
};
