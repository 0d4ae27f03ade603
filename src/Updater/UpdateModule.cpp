#include "Updater/UpdateModule.h"

#include <windows.h>

#include <vector>

#include "CommonUtils.h"
#include "Http/HttpResultCodes.h"
#include "Runtime/FileEx.h"
#include "Runtime/Handles.h"
#include "Runtime/LiveTokens.h"
#include "Runtime/Log.h"
#include "Runtime/MainThreadTask.h"
#include "Runtime/TextUtils.h"
#include "Updater/UpdateDescriptor.h"
#include "UpdaterBuildConfig.h"

namespace {

const wchar_t kLogFile[] = L".\\Updater\\Updater";
const wchar_t kDescriptorFile[] = L"kvinstall.ini";
const wchar_t kPackageFile[] = L"kvinstaller.exe";
const wchar_t kMarkerClassFormat[] = L"_UPDATE_MODULE_HELPER_WINDOW_KORVEL%d";
const wchar_t kDownloadFailed[] = L"安装失败";
constexpr size_t kMaxStoredDescriptorBytes = 4u << 20;  // a descriptor is a few hundred bytes
constexpr uint32_t kWriteChunkBytes = 64u << 10;

// The modules that may still receive callbacks and posted tasks, by owner
// token. Never destroyed, so a module with static storage may still give up
// its token at exit. Main thread only.
// Numbers the marker windows' classes. Main thread only.
int g_markerClassCounter = 0;

kv::LiveTokens<CUpdateModule>& Modules() {
    static auto* modules = new kv::LiveTokens<CUpdateModule>();
    return *modules;
}

uint64_t CurrentUtcFileTime() {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// The stored copy's bytes (at most kMaxStoredDescriptorBytes); "" when unreadable.
std::string ReadStoredBytes(const std::wstring& path) {
    kv::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes(kMaxStoredDescriptorBytes, '\0');
    size_t filled = 0;
    while (filled < bytes.size()) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), &bytes[filled], static_cast<DWORD>(bytes.size() - filled), &read, nullptr) ||
            read == 0) {
            break;
        }
        filled += read;
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace

std::vector<std::wstring> CUpdateModule::BuiltInDescriptorUrls() {
    std::vector<std::wstring> pieces;
    Split(AnsiToWide(KV_DESCRIPTOR_URLS_TEXT), pieces);
    std::vector<std::wstring> urls;
    for (auto& piece : pieces) {
        if (!piece.empty()) urls.push_back(piece);
    }
    return urls;
}

CUpdateModule::CUpdateModule(const std::wstring& packageDir, IGameEventListener* listener)
    : urls_(BuiltInDescriptorUrls()), packageDir_(packageDir), listener_(listener) {
    // A descriptor is a few hundred bytes and a signature about 72: anything
    // much larger is not one, and is not kept in memory.
    command_.SetMaxBodyBytes(kMaxDescriptorBytes);
    signatureCommand_.SetMaxBodyBytes(kMaxSignatureBytes);
}

CUpdateModule::~CUpdateModule() {
    // Tasks already posted must not find the module once it is gone.
    if (owner_) Stop();
}

bool CUpdateModule::Start() {
    if (!owner_) owner_ = Modules().Issue(this);
    if (!marker_) CreateMarkerWindow();
    if (!CreateDir(packageDir_)) return false;
    FetchDescriptor();
    return true;
}

void CUpdateModule::FetchDescriptor() {
    if (urlIndex_ < 0 || static_cast<size_t>(urlIndex_) >= urls_.size()) return;
    const std::wstring url = urls_[static_cast<size_t>(urlIndex_)];
    ++urlIndex_;
    if (command_.IsStarted()) return;  // the running fetch reports; the step stands
    fetchedUrl_ = url;
    KV_LOG(kToConsole | kToFile, Info, L"[UM] descriptor from %s", url.c_str());
    command_.SetUrl(url);
    command_.SetCompletion(&CUpdateModule::OnDescriptorFetched, CallbackOwner());
    SubmitCommand(&command_);
}

void CUpdateModule::Stop() {
    command_.Stop();
    signatureCommand_.Stop();
    download_.Stop();
    descriptorText_.clear();
    downloading_ = false;
    Modules().Drop(owner_);
    DestroyMarkerWindow();
}

void CUpdateModule::CreateMarkerWindow() {
    markerClass_ = FormatString(kMarkerClassFormat, ++g_markerClassCounter);
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &::DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = markerClass_.c_str();
    // The console and the file get different texts for the same failure.
    if (!::RegisterClassExW(&wc)) {
        const int error = static_cast<int>(::GetLastError());
        KV_LOG(kToConsole, Error, L"[UM]regclass %d", error);
        KV_LOG(kToFile, Error, L"[UM]rcls %d:%d", 1, error);
        markerClass_.clear();
        return;
    }
    marker_.reset(::CreateWindowExW(0, markerClass_.c_str(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
    if (!marker_) {
        const int error = static_cast<int>(::GetLastError());
        DestroyMarkerWindow();  // unregisters the class
        KV_LOG(kToConsole, Error, L"[UM]unregclass %d", error);
        KV_LOG(kToFile, Error, L"[UM]urcls %d:%d", 1, error);
    }
}

void CUpdateModule::DestroyMarkerWindow() {
    marker_.reset();
    if (markerClass_.empty()) return;
    ::UnregisterClassW(markerClass_.c_str(), ::GetModuleHandleW(nullptr));
    markerClass_.clear();
}

CUpdateModule* CUpdateModule::FromOwner(void* owner) { return Modules().Find(reinterpret_cast<uintptr_t>(owner)); }

void CUpdateModule::Post(Event event, int32_t errtype, int32_t code) {
    PostToMainThread(&CUpdateModule::Deliver, owner_, static_cast<int32_t>(event), errtype, code);
}

void CUpdateModule::Deliver(uintptr_t owner, int32_t event, int32_t errtype, int32_t code) {
    CUpdateModule* self = Modules().Find(owner);
    if (!self) return;  // stopped or deleted since the event was posted
    switch (static_cast<Event>(event)) {
        case Event::DescriptorDone:
            self->HandleDescriptorDone(errtype, code);
            break;
        case Event::DownloadProgress:
            self->HandleProgress();
            break;
        case Event::DownloadDone:
            self->HandleDownloadDone(errtype, code);
            break;
        case Event::SignatureDone:
            self->HandleSignatureDone(errtype, code);
            break;
    }
}

void CUpdateModule::OnDescriptorFetched(void* owner, const std::string& body, int32_t errorType, int32_t code) {
    CUpdateModule* self = FromOwner(owner);
    if (!self) return;
    self->descriptorText_ = Utf8ToWide(body);
    self->descriptorBody_ = self->descriptorKey_ ? body : std::string();
    self->Post(Event::DescriptorDone, errorType, code);
}

void CUpdateModule::OnDownloadProgress(void* owner, int64_t total, int64_t downloaded, uint32_t speed) {
    CUpdateModule* self = FromOwner(owner);
    if (!self) return;
    ProtoValue& process = self->progress_[L"process"];
    process[L"total"] = total;
    process[L"complete"] = downloaded;
    process[L"speed"] = static_cast<int64_t>(speed);
    self->Post(Event::DownloadProgress, 0, 0);
}

void CUpdateModule::OnDownloadFinished(void* owner, int32_t errorType, int32_t code) {
    CUpdateModule* self = FromOwner(owner);
    if (!self) return;
    self->Post(Event::DownloadDone, errorType, code);
}

void CUpdateModule::HandleDescriptorDone(int errtype, int code) {
    command_.Stop();  // out of its scheduler, so it can be submitted again
    KV_LOG(kToConsole | kToFile, Info, L"[UM] descriptor from %s: (%d,%d)", fetchedUrl_.c_str(), errtype, code);
    if (errtype != 0) {
        EndpointFailed(errtype, code);
        return;
    }
    if (descriptorKey_) {
        FetchSignature();
        return;
    }
    AcceptDescriptor(code);
}

// One endpoint gave nothing usable: on to the next, or tell the listener.
void CUpdateModule::EndpointFailed(int errtype, int code) {
    if (urlIndex_ < static_cast<int>(urls_.size())) {
        FetchDescriptor();  // on to the fallback endpoint
        return;
    }
    if (listener_) listener_->OnDescriptor(errtype, code, version_, md5_);
}

// The signature lies beside the descriptor, at the endpoint that answered.
void CUpdateModule::FetchSignature() {
    signatureCommand_.SetUrl(fetchedUrl_ + L".sig");
    signatureCommand_.SetCompletion(&CUpdateModule::OnSignatureFetched, CallbackOwner());
    SubmitCommand(&signatureCommand_);
}

void CUpdateModule::OnSignatureFetched(void* owner, const std::string& body, int32_t errorType, int32_t code) {
    CUpdateModule* self = FromOwner(owner);
    if (!self) return;
    self->signature_ = body;
    self->Post(Event::SignatureDone, errorType, code);
}

void CUpdateModule::HandleSignatureDone(int errtype, int code) {
    signatureCommand_.Stop();
    const wchar_t* problem = nullptr;
    if (errtype == 0 && !kv::VerifyEcdsaP256Sha256(*descriptorKey_, descriptorBody_, signature_)) {
        problem = L"bad signature";
    } else if (errtype == 0) {
        // Signed, but only a descriptor naming its package's digest and not
        // yet run out may be used.
        problem = SignedValuesProblem(ReadInstallSection(descriptorText_), CurrentUtcFileTime());
    }
    if (problem) {
        errtype = kBadSignature.type;
        code = kBadSignature.code;
    }
    if (errtype != 0) {
        // Nothing of an unauthenticated descriptor is stored or read.
        KV_LOG(kToConsole | kToFile, Error, L"[UM] descriptor signature rejected:%s (%d,%d) %s", fetchedUrl_.c_str(),
               errtype, code, problem ? problem : L"");
        descriptorText_.clear();
        EndpointFailed(errtype, code);
        return;
    }
    AcceptDescriptor(0);
}

void CUpdateModule::AcceptDescriptor(int code) {
    StoreDescriptor();
    ReadDescriptorValues();
    StartPackageDownload();
    if (listener_) listener_->OnDescriptor(0, code, version_, md5_);
}

void CUpdateModule::StoreDescriptor() {
    const std::wstring path = packageDir_ + L"\\" + kDescriptorFile;
    CFileEx file;
    if (!file.Open(path, CFileEx::ModeCreate | CFileEx::ModeWrite | CFileEx::ShareDenyWrite | CFileEx::ModeNoInherit |
                             CFileEx::TypeBinary)) {
        return;  // without a key an earlier copy (or none) is read instead
    }
    try {
        file.Seek(0, FILE_BEGIN);
        static const uint8_t kBom[2] = {0xFF, 0xFE};
        file.Write(kBom, 2);
        const auto* bytes = reinterpret_cast<const uint8_t*>(descriptorText_.data());
        size_t left = descriptorText_.size() * sizeof(wchar_t);  // UTF-16LE code units
        while (left > 0) {
            const uint32_t piece = left < kWriteChunkBytes ? static_cast<uint32_t>(left) : kWriteChunkBytes;
            file.Write(bytes, piece);
            bytes += piece;
            left -= piece;
        }
        file.Flush();
        file.Close();
    } catch (const CFileExException&) {
        file.Abort();
    }
}

void CUpdateModule::ReadDescriptorValues() {
    const std::wstring path = packageDir_ + L"\\" + kDescriptorFile;
    // With a key only the verified text counts: a stored copy that could not
    // be replaced (held open, read-only) was never checked.
    const DescriptorValues values = ReadInstallSection(
        descriptorKey_ ? descriptorText_ : DecodeStoredDescriptor(ReadStoredBytes(path)));
    url_ = values.url;
    murl_ = values.murl;
    size_ = values.size;
    md5_ = values.md5;
    version_ = values.version;
    sha256_ = values.sha256;
}

void CUpdateModule::StartPackageDownload() {
    packagePath_ = packageDir_ + L"\\" + kPackageFile;
    const size_t dot = packagePath_.rfind(L'.');
    const std::wstring stem = dot == std::wstring::npos ? packagePath_ : packagePath_.substr(0, dot);
    // The Version comes from the network: it must not steer the file elsewhere.
    tempPath_ = stem + L"_" + SafeVersionForFileName(version_) + L".tmp";
    downloading_ = true;
    const bool folderReady = CreateDir(packageDir_);
    const int64_t expectedSize = ParseDescriptorSize(size_);
    KV_LOG(kToConsole | kToFile, Info, L"[UM] package %s (mirrors %s) into %s: Version %s, Size %s, Md5 %s, Sha256 %s",
           url_.c_str(), murl_.c_str(), tempPath_.c_str(), version_.c_str(), size_.c_str(), md5_.c_str(),
           sha256_.c_str());
    download_.SetCallbacks(&CUpdateModule::OnDownloadFinished, &CUpdateModule::OnDownloadProgress);
    if (folderReady && download_.Download(murl_, url_, tempPath_, expectedSize, CallbackOwner())) return;
    // A download that cannot start (no package folder, no address, a run
    // still going) still ends in one result, so the owner retries instead of
    // waiting for ever.
    const HttpResult failure = !folderReady ? kPackageFolderMissing : url_.empty() ? kNoPackageAddress : kDownloadBusy;
    KV_LOG(kToConsole | kToFile, Error, L"[UM] download not started:%d,%d", failure.type, failure.code);
    Post(Event::DownloadDone, failure.type, failure.code);
}

void CUpdateModule::HandleProgress() {
    if (!downloading_) return;
    if (!progress_.Has(L"process")) return;
    const ProtoValue& process = progress_.Get(L"process");
    const int64_t total = process.Get(L"total").integer();
    const int64_t complete = process.Get(L"complete").integer();
    const uint64_t speed = static_cast<uint64_t>(process.Get(L"speed").integer());
    progress_.Clear();
    if (listener_) listener_->OnProgress(total, complete, speed);
}

void CUpdateModule::HandleDownloadDone(int errtype, int code) {
    if (!downloading_) return;
    download_.Stop();
    downloading_ = false;
    if (errtype != 0) {
        // A partly downloaded file stays for a later resume.
        if (GetFileSize64(tempPath_) <= 0) RemoveFile(tempPath_);
        if (listener_) listener_->OnDone(errtype, code, kDownloadFailed);
        return;
    }
    const bool placed = RemoveFile(packagePath_) && MoveFileReplace(tempPath_, packagePath_);
    KV_LOG(kToConsole | kToFile, Info, L"[UM] package downloaded: %s %s", packagePath_.c_str(),
           placed ? L"in place" : L"not put in place");
    if (listener_) {
        if (placed) {
            listener_->OnDone(0, code, L"");
        } else {
            listener_->OnDone(kPackageNotPlaced.type, kPackageNotPlaced.code, L"");
        }
    }
}
