#include "Updater/UpdateModule.h"

#include <cwchar>
#include <vector>

#include "CommonUtils.h"
#include "Runtime/FileEx.h"
#include "Runtime/Handles.h"
#include "Runtime/LogSinks.h"
#include "Runtime/TextUtils.h"
#include "Updater/UpdateDescriptor.h"
#include "UpdaterBuildConfig.h"

namespace {

const wchar_t kLogFile[] = L".\\Updater\\Updater";
const wchar_t kDescriptorFile[] = L"kvinstall.ini";
const wchar_t kPackageFile[] = L"kvinstaller.exe";
const wchar_t kHelperClassPrefix[] = L"_UPDATE_MODULE_HELPER_WINDOW_KORVEL";
const wchar_t kHelperClassFormat[] = L"_UPDATE_MODULE_HELPER_WINDOW_KORVEL%d";
const wchar_t kDownloadFailed[] = L"安装失败";
constexpr size_t kMaxStoredDescriptorBytes = 4u << 20;  // a descriptor is a few hundred bytes
constexpr uint32_t kWriteChunkBytes = 64u << 10;
constexpr int32_t kCurlUrlMalformed = 3;  // what the transfer reports for an empty address

// Numbers the helper window classes; touched on the main thread only.
int g_helperClassCounter = 0;

template <typename... Args>
void LogInfo(int line, const wchar_t* format, Args... args) {
    ConsoleLogger::Instance().LogAt(Info, line, kLogFile, format, args...);
    FileLogger::Instance().LogAt(Info, line, kLogFile, format, args...);
}

template <typename... Args>
void LogConsoleAndFile(int consoleLine, const wchar_t* consoleFormat, int fileLine, const wchar_t* fileFormat,
                       Args... args) {
    ConsoleLogger::Instance().LogAt(Error, consoleLine, kLogFile, consoleFormat, args...);
    FileLogger::Instance().LogAt(Error, fileLine, kLogFile, fileFormat, args...);
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
    // The helper window's user data points here: it must not outlive us.
    if (helper_) Stop();
}

bool CUpdateModule::Start() {
    if (!helper_) CreateHelperWindow();
    if (!CreateDir(packageDir_)) return false;
    FetchDescriptor();
    return true;
}

void CUpdateModule::CreateHelperWindow() {
    helperClass_ = FormatString(kHelperClassFormat, ++g_helperClassCounter);
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &CUpdateModule::HelperProc;
    wc.hInstance = instance;
    wc.lpszClassName = helperClass_.c_str();
    if (!::RegisterClassExW(&wc)) {
        const DWORD error = ::GetLastError();
        ConsoleLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[UM]regclass %d", static_cast<int>(error));
        FileLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[UM]rcls %d:%d", 1, static_cast<int>(error));
        return;
    }
    helper_ = ::CreateWindowExW(0, helperClass_.c_str(), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    if (!helper_) {
        const DWORD error = ::GetLastError();
        ::UnregisterClassW(helperClass_.c_str(), instance);
        ConsoleLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[UM]unregclass %d", static_cast<int>(error));
        FileLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[UM]urcls %d:%d", 1, static_cast<int>(error));
    }
}

void CUpdateModule::FetchDescriptor() {
    if (urlIndex_ < 0 || static_cast<size_t>(urlIndex_) >= urls_.size()) return;
    const std::wstring url = urls_[static_cast<size_t>(urlIndex_)];
    ++urlIndex_;
    if (command_.IsStarted()) return;  // the running fetch reports; the step stands
    fetchedUrl_ = url;
    LogInfo(__LINE__, L"[UM] descriptor from %s", url.c_str());
    command_.SetUrl(url);
    command_.SetCompletion(&CUpdateModule::OnDescriptorFetched, helper_);
    SubmitCommand(&command_);
}

void CUpdateModule::Stop() {
    command_.Stop();
    signatureCommand_.Stop();
    download_.Stop();
    descriptorText_.clear();
    downloading_ = false;
    if (helper_) {
        ::DestroyWindow(helper_);
        helper_ = nullptr;
        ::UnregisterClassW(helperClass_.c_str(), ::GetModuleHandleW(nullptr));
    }
}

LRESULT CALLBACK CUpdateModule::HelperProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
    auto* self = reinterpret_cast<CUpdateModule*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case UM_DESCRIPTOR_DONE:
            if (self) self->HandleDescriptorDone(static_cast<int>(wParam), static_cast<int>(lParam));
            return 0;
        case UM_DOWNLOAD_PROGRESS:
            if (self) self->HandleProgress();
            return 0;
        case UM_DOWNLOAD_DONE:
            if (self) self->HandleDownloadDone(static_cast<int>(wParam), static_cast<int>(lParam));
            return 0;
        case UM_SIGNATURE_DONE:
            if (self) self->HandleSignatureDone(static_cast<int>(wParam), static_cast<int>(lParam));
            return 0;
        case WM_USER + 1003:
        case WM_USER + 1004:
        case WM_USER + 1005:
        case WM_USER + 1006:
        case WM_USER + 1007:
        case WM_USER + 1008:
        case WM_TIMER:
            return 0;
        default:
            return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

CUpdateModule* CUpdateModule::FromOwner(void* owner) {
    HWND hwnd = static_cast<HWND>(owner);
    if (!hwnd || !::IsWindow(hwnd)) return nullptr;
    // A handle reused by another window must not be read as a module.
    wchar_t className[64] = {};
    const int length = ::GetClassNameW(hwnd, className, 64);
    const size_t prefix = wcslen(kHelperClassPrefix);
    if (length < static_cast<int>(prefix) || wcsncmp(className, kHelperClassPrefix, prefix) != 0) return nullptr;
    return reinterpret_cast<CUpdateModule*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void CUpdateModule::Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (::PostMessageW(hwnd, message, wParam, lParam)) return;
    const DWORD error = ::GetLastError();
    ConsoleLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[UM] post_message failed:%u", error);
    FileLogger::Instance().LogAt(Error, __LINE__, kLogFile, L"[UM] post message failed:%u", error);
}

void CUpdateModule::OnDescriptorFetched(void* owner, const std::string& body, int32_t errorType, int32_t code) {
    CUpdateModule* self = FromOwner(owner);
    if (!self) return;
    self->descriptorText_ = Utf8ToWide(body);
    self->descriptorBody_ = self->descriptorKey_ ? body : std::string();
    Post(self->helper_, UM_DESCRIPTOR_DONE, static_cast<WPARAM>(errorType), static_cast<LPARAM>(code));
}

void CUpdateModule::OnDownloadProgress(void* owner, int64_t total, int64_t downloaded, uint32_t speed) {
    CUpdateModule* self = FromOwner(owner);
    if (!self) return;
    ProtoValue& process = self->progress_[L"process"];
    process[L"total"] = total;
    process[L"complete"] = downloaded;
    process[L"speed"] = static_cast<int64_t>(speed);
    Post(self->helper_, UM_DOWNLOAD_PROGRESS, 0, 0);
}

void CUpdateModule::OnDownloadFinished(void* owner, int32_t errorType, int32_t code) {
    Post(static_cast<HWND>(owner), UM_DOWNLOAD_DONE, static_cast<WPARAM>(errorType), static_cast<LPARAM>(code));
}

void CUpdateModule::HandleDescriptorDone(int errtype, int code) {
    command_.Stop();  // out of its scheduler, so it can be submitted again
    LogInfo(__LINE__, L"[UM] descriptor from %s: (%d,%d)", fetchedUrl_.c_str(), errtype, code);
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
    signatureCommand_.SetCompletion(&CUpdateModule::OnSignatureFetched, helper_);
    SubmitCommand(&signatureCommand_);
}

void CUpdateModule::OnSignatureFetched(void* owner, const std::string& body, int32_t errorType, int32_t code) {
    CUpdateModule* self = FromOwner(owner);
    if (!self) return;
    self->signature_ = body;
    Post(self->helper_, UM_SIGNATURE_DONE, static_cast<WPARAM>(errorType), static_cast<LPARAM>(code));
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
        errtype = kHttpErrorUser;
        code = kBadSignatureCode;
    }
    if (errtype != 0) {
        // Nothing of an unauthenticated descriptor is stored or read.
        LogConsoleAndFile(__LINE__, L"[UM] descriptor signature rejected:%s (%d,%d) %s", __LINE__,
                          L"[UM] descriptor signature rejected:%s (%d,%d) %s", fetchedUrl_.c_str(), errtype, code,
                          problem ? problem : L"");
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
    LogInfo(__LINE__, L"[UM] package %s (mirrors %s) into %s: Version %s, Size %s, Md5 %s, Sha256 %s", url_.c_str(),
            murl_.c_str(), tempPath_.c_str(), version_.c_str(), size_.c_str(), md5_.c_str(), sha256_.c_str());
    download_.SetCallbacks(&CUpdateModule::OnDownloadFinished, &CUpdateModule::OnDownloadProgress);
    if (folderReady && download_.Download(murl_, url_, tempPath_, expectedSize, helper_)) return;
    // A download that cannot start (no package folder, no address, a run
    // still going) still ends in one result, so the owner retries instead of
    // waiting for ever.
    int32_t type = url_.empty() ? kHttpErrorCurl : kHttpErrorSys;
    int32_t code = url_.empty() ? kCurlUrlMalformed : static_cast<int32_t>(ERROR_BUSY);
    if (!folderReady) {
        type = kHttpErrorSys;
        code = ERROR_PATH_NOT_FOUND;
    }
    LogConsoleAndFile(__LINE__, L"[UM] download not started:%d,%d", __LINE__, L"[UM] download not started:%d,%d",
                      type, code);
    Post(helper_, UM_DOWNLOAD_DONE, static_cast<WPARAM>(type), static_cast<LPARAM>(code));
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
    LogInfo(__LINE__, L"[UM] package downloaded: %s %s", packagePath_.c_str(), placed ? L"in place" : L"not put in place");
    if (listener_) {
        if (placed) {
            listener_->OnDone(0, code, L"");
        } else {
            listener_->OnDone(kPlaceFailedType, kPlaceFailedCode, L"");
        }
    }
}
