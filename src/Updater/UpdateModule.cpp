#include "Updater/UpdateModule.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "Runtime/FileSystem.h"
#include "Http/FailureKind.h"
#include "Http/HtmlAnswer.h"
#include "Http/HttpResultCodes.h"
#include "Http/PieceDigests.h"
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
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;
constexpr int64_t kFileTimeEpochTo1970 = 11644473600;  // seconds from 1601 to 1970
// A server's Date this far from the PC's clock means the clock is wrong
// (time zones and a slow server stay well inside it).
constexpr int64_t kClockToleranceSeconds = 24 * 3600;

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
    command_.SetCompletion(
        [token = owner_](const CommandResponse& response) { OnDescriptorFetched(token, response); });
    SubmitCommand(&command_);
}

void CUpdateModule::Restart() {
    urlIndex_ = 0;
    if (!urls_.empty()) FetchDescriptor();
}

std::vector<std::wstring> CUpdateModule::PackageSources() const {
    if (url_.empty() && murl_.empty()) return {};
    return CHttpDownloadFile::AddressList(murl_, url_);
}

uint64_t CUpdateModule::BytesStillNeeded() const {
    const int64_t size = ParseDescriptorSize(size_);
    if (size <= 0) return 0;
    const int64_t partial = tempPath_.empty() ? 0 : std::max<int64_t>(GetFileSize64(tempPath_), 0);
    return partial >= size ? 0 : static_cast<uint64_t>(size - partial);
}

void CUpdateModule::Stop() {
    command_.Stop();
    signatureCommand_.Stop();
    download_.Stop();
    descriptorText_.clear();
    cycleFailure_ = HttpResult();
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

CUpdateModule* CUpdateModule::FromToken(uintptr_t token) { return Modules().Find(token); }

void CUpdateModule::Post(Event event, const HttpResult& result) {
    PostToMainThread(&CUpdateModule::Deliver, owner_, static_cast<int32_t>(event), result.type, result.code);
}

void CUpdateModule::Deliver(uintptr_t owner, int32_t event, int32_t errtype, int32_t code) {
    CUpdateModule* self = Modules().Find(owner);
    if (!self) return;  // stopped or deleted since the event was posted
    switch (static_cast<Event>(event)) {
        case Event::DescriptorDone:
            self->HandleDescriptorDone({errtype, code});
            break;
        case Event::DownloadProgress:
            self->HandleProgress();
            break;
        case Event::DownloadDone:
            self->HandleDownloadDone({errtype, code});
            break;
        case Event::SignatureDone:
            self->HandleSignatureDone({errtype, code});
            break;
    }
}

void CUpdateModule::OnDescriptorFetched(uintptr_t token, const CommandResponse& response) {
    CUpdateModule* self = FromToken(token);
    if (!self) return;
    self->descriptorText_ = Utf8ToWide(response.body);
    self->descriptorBody_ = response.body;
    self->descriptorContentType_ = response.contentType;
    self->serverTime_ = response.serverTime;
    self->Post(Event::DescriptorDone, response.result);
}

void CUpdateModule::OnDownloadProgress(uintptr_t token, int64_t total, int64_t downloaded, uint32_t speed) {
    CUpdateModule* self = FromToken(token);
    if (!self) return;
    ProtoValue& process = self->progress_[L"process"];
    process[L"total"] = total;
    process[L"complete"] = downloaded;
    process[L"speed"] = static_cast<int64_t>(speed);
    self->Post(Event::DownloadProgress, HttpResult{});
}

void CUpdateModule::OnDownloadFinished(uintptr_t token, const HttpResult& result) {
    CUpdateModule* self = FromToken(token);
    if (!self) return;
    self->Post(Event::DownloadDone, result);
}

void CUpdateModule::HandleDescriptorDone(HttpResult result) {
    command_.Stop();  // out of its scheduler, so it can be submitted again
    // A network that wants a sign-in answers every address with its own page:
    // told before any signature check, so the user reads "sign in", not
    // "refused".
    if (result.type == kHttpErrorOk && LooksLikeHtmlPage(descriptorContentType_, descriptorBody_)) {
        result = kSignInPage;
    }
    KV_LOG(kToConsole | kToFile, Info, L"[UM] descriptor from %s: (%d,%d)", fetchedUrl_.c_str(), result.type,
           result.code);
    if (result.type != kHttpErrorOk) {
        EndpointFailed(result);
        return;
    }
    if (descriptorKey_) {
        FetchSignature();
        return;
    }
    AcceptDescriptor();
}

// One endpoint gave nothing usable: on to the next, or tell the listener.
void CUpdateModule::EndpointFailed(const HttpResult& result) {
    KV_LOG(kToConsole | kToFile, Warn, L"[UM] endpoint %s failed (%d,%d) %s", fetchedUrl_.c_str(), result.type,
           result.code, FailureKindName(Classify(result)));
    descriptorText_.clear();
    // An endpoint that answered (a sign-in page, a wrong clock, a refusal)
    // tells more than one that could not be reached: a later endpoint's
    // network failure does not hide it.
    if (cycleFailure_.type == kHttpErrorOk || Classify(result) != FailureKind::kNetwork) cycleFailure_ = result;
    if (urlIndex_ < static_cast<int>(urls_.size())) {
        FetchDescriptor();  // on to the fallback endpoint
        return;
    }
    const HttpResult failure = cycleFailure_;
    cycleFailure_ = HttpResult();  // the next cycle starts afresh
    if (listener_) listener_->OnDescriptor(failure, version_, md5_);
}

// The signature lies beside the descriptor, at the endpoint that answered.
void CUpdateModule::FetchSignature() {
    signatureCommand_.SetUrl(fetchedUrl_ + L".sig");
    signatureCommand_.SetCompletion(
        [token = owner_](const CommandResponse& response) { OnSignatureFetched(token, response); });
    SubmitCommand(&signatureCommand_);
}

void CUpdateModule::OnSignatureFetched(uintptr_t token, const CommandResponse& response) {
    CUpdateModule* self = FromToken(token);
    if (!self) return;
    self->signature_ = response.body;
    self->Post(Event::SignatureDone, response.result);
}

void CUpdateModule::HandleSignatureDone(HttpResult result) {
    signatureCommand_.Stop();
    const wchar_t* problem = nullptr;
    if (result.type == kHttpErrorOk && !kv::VerifyEcdsaP256Sha256(*descriptorKey_, descriptorBody_, signature_)) {
        problem = L"bad signature";
    } else if (result.type == kHttpErrorOk) {
        // Signed, but only a descriptor naming its package's digest and not
        // yet run out may be used.
        problem = SignedValuesProblem(ReadInstallSection(descriptorText_), CurrentUtcFileTime());
    }
    if (problem) result = problem == kDescriptorExpired && ClockDisagreesWithServer() ? kClockWrong : kBadSignature;
    if (result.type != kHttpErrorOk) {
        // Nothing of an unauthenticated descriptor is stored or read.
        KV_LOG(kToConsole | kToFile, Error, L"[UM] descriptor signature rejected:%s (%d,%d) %s (server time %lld)",
               fetchedUrl_.c_str(), result.type, result.code, problem ? problem : L"",
               static_cast<long long>(serverTime_));
        EndpointFailed(result);
        return;
    }
    AcceptDescriptor();
}

bool CUpdateModule::ClockDisagreesWithServer() const {
    if (serverTime_ < 0) return false;  // no Date: the descriptor is simply refused
    const int64_t now = static_cast<int64_t>(CurrentUtcFileTime() / kFileTimeUnitsPerSecond) - kFileTimeEpochTo1970;
    const int64_t apart = now > serverTime_ ? now - serverTime_ : serverTime_ - now;
    return apart > kClockToleranceSeconds;
}

void CUpdateModule::AcceptDescriptor() {
    // An answer without a package address is not a descriptor (an error page
    // served with 200, a wrong file at the address): nothing of it is kept.
    const wchar_t* text = descriptorText_.c_str();
    const size_t length = descriptorText_.size();
    if (ReadIniValue(text, length, L"Install", L"Url").empty() && ReadIniValue(text, length, L"Install", L"murl").empty()) {
        EndpointFailed(kDescriptorWithoutUrl);
        return;
    }
    cycleFailure_ = HttpResult();
    StoreDescriptor();
    ReadDescriptorValues();
    StartPackageDownload();
    if (listener_) listener_->OnDescriptor(HttpResult{}, version_, md5_);
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
    pieceSize_ = values.pieceSize;
    pieces_ = values.pieces;
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
    // The drive must hold what is still missing before a byte is fetched; a
    // download that would fill the disk half-way helps nobody.
    const uint64_t needed = BytesStillNeeded();
    const uint64_t room = folderReady && needed != 0 ? FreeBytesAt(packageDir_) : 0;
    if (folderReady && needed != 0 && room < needed) {
        KV_LOG(kToConsole | kToFile, Error, L"[UM] no room for the package in %s: %llu bytes free, %llu needed",
               packageDir_.c_str(), static_cast<unsigned long long>(room), static_cast<unsigned long long>(needed));
        Post(Event::DownloadDone, kNoRoomForPackage);
        return;
    }
    download_.SetCallbacks([token = owner_](const HttpResult& result) { OnDownloadFinished(token, result); },
                           [token = owner_](int64_t total, int64_t downloaded, uint32_t speed) {
                               OnDownloadProgress(token, total, downloaded, speed);
                           });
    std::shared_ptr<const CPieceDigests> pieces;
    // Checks that do not hold are no checks: the package is not fetched on
    // such a descriptor's word (the failure is logged with its pair).
    if (!CPieceDigests::Parse(pieceSize_, pieces_, expectedSize, &pieces)) {
        Post(Event::DownloadDone, kBadPieceList);
        return;
    }
    download_.SetPieceDigests(pieces);
    // One address alone, as one stream: its bytes are its own, so a digest
    // that fails names it.
    const std::vector<std::wstring> sources = PackageSources();
    const bool alone = !onlySource_.empty() && std::find(sources.begin(), sources.end(), onlySource_) != sources.end();
    if (alone) {
        KV_LOG(kToConsole | kToFile, Info, L"[UM] package from %s alone", onlySource_.c_str());
        download_.SetMaxConnections(1);
    }
    const std::wstring& mirrors = alone ? std::wstring() : murl_;
    const std::wstring& main = alone ? onlySource_ : url_;
    if (folderReady && download_.Download(mirrors, main, tempPath_, expectedSize)) return;
    // A download that cannot start (no package folder, no address, a run
    // still going) still ends in one result, so the owner retries instead of
    // waiting for ever.
    const HttpResult failure = !folderReady ? kPackageFolderMissing : url_.empty() ? kNoPackageAddress : kDownloadBusy;
    KV_LOG(kToConsole | kToFile, Error, L"[UM] download not started:%d,%d", failure.type, failure.code);
    Post(Event::DownloadDone, failure);
}

uint64_t CUpdateModule::FreeBytesAt(const std::wstring& dir) const {
    if (freeSpaceQuery_) return freeSpaceQuery_(dir);
    ULARGE_INTEGER available = {};
    if (!::GetDiskFreeSpaceExW(dir.c_str(), &available, nullptr, nullptr)) return UINT64_MAX;  // unknown: let the writes tell
    return available.QuadPart;
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

void CUpdateModule::HandleDownloadDone(const HttpResult& result) {
    if (!downloading_) return;
    download_.Stop();
    downloading_ = false;
    if (result.type != kHttpErrorOk) {
        KV_LOG(kToConsole | kToFile, Error, L"[UM] package download failed (%d,%d) %s", result.type, result.code,
               FailureKindName(Classify(result)));
        // A partly downloaded file stays for a later resume.
        if (GetFileSize64(tempPath_) <= 0) RemoveFile(tempPath_);
        if (listener_) listener_->OnDone(result, kDownloadFailed);
        return;
    }
    DWORD error = 0;
    if (!RemoveFile(packagePath_) || !MoveFileReplace(tempPath_, packagePath_)) error = ::GetLastError();
    // Another program (a scanner) holding either file is a wait, not a fault.
    const HttpResult placed = error == 0                                                 ? HttpResult{}
                              : error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? kFileLocked
                                                                                          : kPackageNotPlaced;
    KV_LOG(kToConsole | kToFile, Info, L"[UM] package downloaded: %s %s (%u)", packagePath_.c_str(),
           error == 0 ? L"in place" : L"not put in place", static_cast<unsigned>(error));
    if (listener_) listener_->OnDone(placed, L"");
}
