#pragma once
// CUpdateModule: fetches the update descriptor (primary, then fallback
// endpoint), keeps it as "kvinstall.ini" in the package folder, downloads the
// package it names into "kvinstaller_<Version>.tmp" there and puts it in place
// as "kvinstaller.exe", reporting descriptor, progress and result to an
// IGameEventListener. Engine callbacks only store and post a task to the
// main-thread dispatcher; all work runs when that task runs. Main thread only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Http/HttpCommand.h"
#include "Http/HttpDownloadFile.h"
#include "Runtime/Handles.h"
#include "Runtime/ProtoValue.h"
#include "Updater/DescriptorSignature.h"
#include "Updater/GameEventListener.h"
#include "Updater/UpdateModuleInterface.h"

class CUpdateModule : public IUpdateModule {
public:
    // Longest descriptor and signature bodies; a larger one fails its
    // endpoint with kBodyTooLarge. The pairs the module makes up itself
    // (kBadSignature, kPackageNotPlaced, ...) are listed in
    // Http/HttpResultCodes.h.
    static constexpr uint32_t kMaxDescriptorBytes = 64u << 10;
    static constexpr uint32_t kMaxSignatureBytes = kv::kMaxSignatureBytes;

    // Fills the endpoint list from the built-in descriptor URLs; starts nothing.
    CUpdateModule(const std::wstring& packageDir, IGameEventListener* listener);
    // Stops the module if the owner has not (no task posted for it may reach
    // it afterwards).
    ~CUpdateModule() override;
    CUpdateModule(const CUpdateModule&) = delete;
    CUpdateModule& operator=(const CUpdateModule&) = delete;

    // Takes a callback owner, makes sure the package folder exists and
    // fetches the descriptor from the current endpoint. False when the folder
    // can neither be found nor created.
    bool Start() override;
    void Restart() override;
    // Fetches the descriptor from the endpoint at UrlIndex() and advances it.
    // Callers keep UrlIndex() below UrlCount().
    void FetchDescriptor();
    // Ends all activity and gives up the callback owner: callbacks and tasks
    // still on their way find no module, and nothing more reaches the listener.
    void Stop() override;

    int UrlIndex() const { return urlIndex_; }
    void SetUrlIndex(int index) { urlIndex_ = index; }
    size_t UrlCount() const { return urls_.size(); }
    // Test/demo injection of the endpoint list (primary, fallback).
    void SetDescriptorUrls(std::vector<std::wstring> urls) { urls_ = std::move(urls); }
    // The built-in endpoint list (KV_DESCRIPTOR_URLS at configure time).
    static std::vector<std::wstring> BuiltInDescriptorUrls();
    // The key whose signature ("<endpoint>.sig") a descriptor must carry
    // before it is stored or read; the signed text must also carry a Sha256
    // and an Expires still ahead. Null checks none. Defaults to the key built
    // into the program (KV_DESCRIPTOR_PUBKEY), tests inject their own.
    void SetDescriptorKey(const kv::EcdsaP256PublicKey* key) { descriptorKey_ = key; }
    // Test injection of the free-space query (bytes free on the drive of a
    // folder); GetDiskFreeSpaceExW by default.
    using FreeSpaceQuery = uint64_t (*)(const std::wstring& dir);
    void SetFreeSpaceQuery(FreeSpaceQuery query) { freeSpaceQuery_ = query; }
    // The descriptor's optional "Sha256" value ("" when absent).
    const std::wstring& ExpectedSha256() const override { return sha256_; }
    uint64_t BytesStillNeeded() const override;
    void SetOnlySource(const std::wstring& url) override { onlySource_ = url; }
    std::vector<std::wstring> PackageSources() const override;
    std::vector<std::wstring> SourcesUsed() const override { return download_.SourcesUsed(); }
    int64_t ServerTime() const override { return serverTime_; }

    const std::wstring& PackagePath() const { return packagePath_; }  // <packageDir>\kvinstaller.exe
    const std::wstring& TempPath() const { return tempPath_; }        // <packageDir>\kvinstaller_<safe Version>.tmp
    const std::wstring& PackageDir() const { return packageDir_; }
    // The token that the engine's callbacks below are bound to: it stands
    // for this module from Start() to Stop() and is never issued again (0
    // outside that span).
    uintptr_t CallbackOwner() const { return owner_; }
    // The package download task (tests inject its resolver list).
    CHttpDownloadFile& PackageDownload() { return download_; }

    // The engine's callbacks, bound to CallbackOwner(). They only store and
    // post (public so that tests can feed them).
    static void OnDescriptorFetched(uintptr_t token, const CommandResponse& response);
    static void OnDownloadProgress(uintptr_t token, int64_t total, int64_t downloaded, uint32_t speed);
    static void OnDownloadFinished(uintptr_t token, const HttpResult& result);
    static void OnSignatureFetched(uintptr_t token, const CommandResponse& response);

private:
    // What a posted task hands to the module, in posting order.
    enum class Event : int32_t { DescriptorDone, DownloadProgress, DownloadDone, SignatureDone };

    static CUpdateModule* FromToken(uintptr_t token);
    // Queues `event` for the main thread; it reaches the module only while
    // the owner token it was posted with is still the module's.
    void Post(Event event, const HttpResult& result);
    static void Deliver(uintptr_t owner, int32_t event, int32_t errtype, int32_t code);

    void HandleDescriptorDone(HttpResult result);
    void EndpointFailed(const HttpResult& result);
    void FetchSignature();
    void HandleSignatureDone(HttpResult result);
    void AcceptDescriptor();
    // The answer's Date lies more than a day from this computer's clock.
    bool ClockDisagreesWithServer() const;
    uint64_t FreeBytesAt(const std::wstring& dir) const;
    void StoreDescriptor();
    void ReadDescriptorValues();
    void StartPackageDownload();
    void HandleProgress();
    void HandleDownloadDone(const HttpResult& result);
    // A message-only window of class "_UPDATE_MODULE_HELPER_WINDOW_KORVEL<n>"
    // marks a running module for other programs; events never pass through it.
    void CreateMarkerWindow();
    void DestroyMarkerWindow();

    std::wstring descriptorText_;
    HttpResult cycleFailure_;  // the endpoints' most telling failure in this cycle so far
    std::string descriptorContentType_;
    int64_t serverTime_ = -1;  // the descriptor answer's Date
    std::string descriptorBody_;  // the bytes as received: a signature is checked over them
    std::string signature_;
    std::wstring fetchedUrl_;     // the endpoint that answered
    const kv::EcdsaP256PublicKey* descriptorKey_ = kv::BuiltInDescriptorKey();
    CHttpCommand signatureCommand_;
    ProtoValue progress_;
    uintptr_t owner_ = 0;
    std::wstring markerClass_;
    kv::UniqueWindow marker_;
    std::vector<std::wstring> urls_;
    int urlIndex_ = 0;
    CHttpCommand command_;
    CHttpDownloadFile download_;
    bool downloading_ = false;
    std::wstring packageDir_;
    IGameEventListener* listener_ = nullptr;
    std::wstring url_, murl_, md5_, size_, version_, sha256_;
    std::wstring pieceSize_, pieces_;
    std::wstring packagePath_;
    std::wstring tempPath_;
    FreeSpaceQuery freeSpaceQuery_ = nullptr;
    std::wstring onlySource_;
};
