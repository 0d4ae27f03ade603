#include "Http/CurlHttp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "Http/HtmlAnswer.h"
#include "Http/ProxyLogin.h"
#include "Runtime/Log.h"
#include "Runtime/TextUtils.h"

namespace {

const wchar_t kLogFile[] = L".\\Http\\CurlHttp";
constexpr size_t kLoggedBodyBytes = 1000;
constexpr int32_t kProxyLoginWanted = 407;

bool IsErrorStatus(int32_t status) { return status > 399 || status < 100; }

// Whether the scheme is https (schemes are case-insensitive).
bool IsHttpsUrl(const std::wstring& url) { return ToLower(url.substr(0, 8)) == L"https://"; }

bool IsStatusLine(const char* data, size_t length) { return length >= 5 && std::memcmp(data, "HTTP/", 5) == 0; }

// The header fields the program reads, in KeptField's order: the download's
// length and range checks, the refusal of web pages, a command's type and
// the server's clock. Header names are case-insensitive in HTTP
// ("content-length" from a proxy is the same field as "Content-Length").
const char* const kKeptNames[] = {"content-length", "content-range", "content-type", "date"};

// Which kept field `name` is, or -1.
int KeptFieldOf(const char* name, size_t length) {
    for (int i = 0; i < static_cast<int>(sizeof(kKeptNames) / sizeof(kKeptNames[0])); ++i) {
        if (std::strlen(kKeptNames[i]) == length && _strnicmp(name, kKeptNames[i], length) == 0) return i;
    }
    return -1;
}
int KeptFieldOf(const std::wstring& name) {
    const std::string ansi = WideToAnsi(name);
    return KeptFieldOf(ansi.data(), ansi.size());
}

// Decimal digits only, below 2^63.
bool ParseLength(const std::wstring& text, uint64_t* value) {
    if (text.empty() || text.size() > 18) return false;
    uint64_t v = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        v = v * 10 + static_cast<uint64_t>(c - L'0');
    }
    *value = v;
    return true;
}

}  // namespace

CCurlHttp::CCurlHttp() = default;

CCurlHttp::~CCurlHttp() {
    CScopedLock lock(streamLock_);
    if (sink_) sink_->Close();
    if (source_) source_->Close();
    sink_.reset();
    source_.reset();
    for (Field& field : fields_) field = Field();
}

void CCurlHttp::SetSink(OBaseStream* sink) {
    CScopedLock lock(streamLock_);
    sink_.reset(sink);
}

void CCurlHttp::SetSource(IBaseStream* source) {
    CScopedLock lock(streamLock_);
    source_.reset(source);
}

bool CCurlHttp::Configure(const std::wstring& url, int32_t method, const HttpTimeouts& timeouts, uint64_t resumeOffset) {
    CURL* easy = PrepareEasyHandle();
    if (!easy) return false;
    uploadSize_ = 0;
    uploadPosition_ = 0;
    connectTo_.reset();  // the reset handle no longer refers to it
    httpStatus_.store(kNoHttpStatus.code);
    refusal_.store(0);
    resumeOffset_ = method == kMethodPost ? 0 : resumeOffset;
    fieldCount_ = 0;
    {
        CScopedLock lock(streamLock_);
        for (Field& field : fields_) field = Field();
    }
    const std::string ansiUrl = WideToAnsi(url);
    curl_easy_setopt(easy, CURLOPT_URL, ansiUrl.c_str());
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CCurlBase::HeaderCallback);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, static_cast<CCurlBase*>(this));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CCurlBase::WriteCallback);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<CCurlBase*>(this));
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CCurlBase::ReadCallback);
    curl_easy_setopt(easy, CURLOPT_READDATA, static_cast<CCurlBase*>(this));
    // Redirects are followed, at most 5 of them.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
    // Only web addresses, and a redirect never leaves https for plain http:
    // a tampered answer must not downgrade a protected transfer.
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, IsHttpsUrl(url) ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeouts.connectSec));
    // Without these a server that accepts and then falls silent (before the
    // headers or mid-body) keeps the transfer open forever: no completion,
    // no retry, no fallback.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(timeouts.lowSpeedBytesPerSec));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeouts.lowSpeedSec));
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPIDLE, static_cast<long>(timeouts.keepAliveIdleSec));
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPINTVL, static_cast<long>(timeouts.keepAliveIntervalSec));
    // Through the proxies the run's configuration has for this address, if
    // any (set by the worker once known: CCurlBase::ApplyRoute).
    SetRouteUrl(url);
    // A proxy that asks who the user is gets the logged-on user's own
    // credentials through Windows' security packages (Negotiate, then NTLM;
    // an empty name tells libcurl to use them), and, once the run has them,
    // the user name and password given for it (Basic and Digest as well).
    std::string user, password;
    const bool given = CProxyLogin::Instance().Get(&user, &password);
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, given ? CURLAUTH_ANY : (CURLAUTH_NEGOTIATE | CURLAUTH_NTLM));
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, user.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, password.c_str());
    if (!password.empty()) ::SecureZeroMemory(&password[0], password.size());
    // The proxy's answer to CONNECT (an https tunnel) is not the server's:
    // its status line and fields must not reach the header callback, where
    // they would be taken for the answer's status.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    // Revocation servers are often out of reach on the networks this program
    // must survive: a revocation check that cannot be made is not a failure.
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    if (method == kMethodPost) {
        uint64_t size = 0;
        {
            CScopedLock lock(streamLock_);
            if (source_) size = source_->GetSize();
        }
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
        uploadSize_ = size;
    } else if (resumeOffset != 0) {
        char range[128];
        std::snprintf(range, sizeof(range), "%llu-", static_cast<unsigned long long>(resumeOffset));
        curl_easy_setopt(easy, CURLOPT_RANGE, range);
    }
    return true;
}

bool CCurlHttp::PinHostAddress(const std::string& host, const std::string& address) {
    CURL* easy = EasyHandle();
    if (!easy || host.empty() || address.empty()) return false;
    // "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT"; empty ports keep the URL's.
    const std::string entry = host + "::" + address + ":";
    kv::UniqueCurlSlist list(::curl_slist_append(nullptr, entry.c_str()));
    if (!list || curl_easy_setopt(easy, CURLOPT_CONNECT_TO, list.get()) != CURLE_OK) return false;
    connectTo_ = std::move(list);
    return true;
}

size_t CCurlHttp::OnRecieveHeader(const char* data, size_t length) {
    const bool statusLine = IsStatusLine(data, length);
    if (statusLine) {
        fieldCount_ = 0;
    } else if (++fieldCount_ > kMaxHeaderFields) {
        KV_LOG(kToConsole | kToFile, Error, L"CCurlHttp::OnRecieveHeader more than %d header fields: answer refused",
               static_cast<int>(kMaxHeaderFields));
        Refuse(kBodyTooLarge);
        return 0;
    }
    int32_t status = httpStatus_.load();
    // Re-read the status at the first line of every response: while none is
    // known, after a redirect, after an interim 1xx answer (so that the
    // final status of "100 Continue" exchanges is seen), and after a proxy's
    // 407, which libcurl answers itself with the next request when it can.
    if (status == kNoHttpStatus.code || (status >= 300 && status <= 399) || (status >= 100 && status <= 199) ||
        status == kProxyLoginWanted) {
        status = kNoHttpStatus.code;
        long code = 0;
        const CURLcode rc = curl_easy_getinfo(EasyHandle(), CURLINFO_RESPONSE_CODE, &code);
        if (rc == CURLE_OK) status = static_cast<int32_t>(code);
        httpStatus_.store(status);
        if (rc != CURLE_OK || IsErrorStatus(status)) {
            KV_LOG(kToConsole | kToFile, Error, L"CCurlHttp::OnRecieveHeader HTTP error code:%d httpcode:%d",
                   static_cast<int>(rc), status);
        }
    }
    // A 407 is told only once it is the transfer's last answer (CCurlWorkshop).
    if (status == kProxyLoginWanted) return length;
    if (IsErrorStatus(status)) {
        PostHttpStatus(status);
        return length;
    }
    if ((length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n')) {
        if (status >= 200 && status <= 299 && !EndOfFinalHeaders(status)) return 0;
        PostHttpStatus(status);
        return length;
    }
    if (statusLine) {
        // A new response of the chain begins (after a redirect or an interim
        // answer): the earlier response's body length and type say nothing
        // about this one's, and a download checks both before its file.
        CScopedLock lock(streamLock_);
        fields_[kContentLength] = Field();
        fields_[kContentType] = Field();
        return length;
    }
    const char* colon = static_cast<const char*>(std::memchr(data, ':', length));
    if (!colon || colon == data) return length;
    const char* nameEnd = colon;
    while (nameEnd > data && (nameEnd[-1] == ' ' || nameEnd[-1] == '\t')) --nameEnd;
    const int kept = KeptFieldOf(data, static_cast<size_t>(nameEnd - data));
    if (kept < 0) return length;  // not read by the program
    Field field;
    field.present = true;
    field.name = AnsiToWide(std::string(data, nameEnd));
    field.value = AnsiToWide(std::string(colon + 1, data + length));
    Trim(field.name);
    Trim(field.value);
    CScopedLock lock(streamLock_);
    fields_[kept] = std::move(field);
    return length;
}

bool CCurlHttp::Refuse(const HttpResult& refusal) {
    refusal_.store(refusal.code, std::memory_order_release);
    return false;
}

bool CCurlHttp::EndOfFinalHeaders(int32_t status) {
    CScopedLock lock(streamLock_);
    // Checked under the lock: a cancel closes the sink after clearing the
    // alive flag, and resetting a closed file sink deletes the partial file
    // that the next run would resume.
    if (!IsAlive()) return false;
    if (refusePages_) {
        const std::wstring& type = fields_[kContentType].value;
        if (LooksLikeHtmlPage(WideToAnsi(type), nullptr, 0)) {
            KV_LOG(kToConsole | kToFile, Error, L"CCurlHttp::OnRecieveHeader 应答是网页而不是文件 httpcode:%d Content-Type:%s",
                   status, type.c_str());
            return Refuse(kSignInPage);
        }
    }
    if (status == 200 && resumeRequested_) {
        // A whole answer replaces the partial file only when it is the whole
        // package: a proxy's or portal's 200 (chunked, or of another length)
        // would leave a few bytes where the partial file was.
        uint64_t length = 0;
        const Field& announced = fields_[kContentLength];
        if (resumeOffset_ != 0 && !(ParseLength(announced.value, &length) && wholeSize_ != 0 && length == wholeSize_)) {
            KV_LOG(kToConsole | kToFile, Error,
                   L"CCurlHttp::OnRecieveHeader 200 to a resumed request, Content-Length:%s expected:%llu: the partial file is kept",
                   announced.present ? announced.value.c_str() : L"(none)", static_cast<unsigned long long>(wholeSize_));
            return Refuse(kLengthMismatch);
        }
        KV_LOG(kToConsole | kToFile, Info, L"httpcode==200 不支持断点续传，清空文件");
        if (sink_) {
            sink_->Reset();
            // A file that cannot be emptied would take the whole answer after
            // its old bytes: the sink keeps the reason, the transfer ends.
            if (sink_->lastError != 0) return false;
        }
    }
    return true;
}

HttpResult CCurlHttp::Refusal() const {
    const int32_t code = refusal_.load(std::memory_order_acquire);
    return code != 0 ? HttpResult{kHttpErrorUser, code} : HttpResult();
}

HttpResult CCurlHttp::SinkFailure() {
    CScopedLock lock(streamLock_);
    if (!sink_ || sink_->lastError == 0) return HttpResult();
    return HttpResult{sink_->LastErrorType(), sink_->LastErrorCode()};
}

size_t CCurlHttp::OnRecieveBody(const char* data, size_t length) {
    const int32_t status = httpStatus_.load();
    if (IsErrorStatus(status)) {
        const std::wstring text = AnsiToWide(std::string(data, std::min(length, kLoggedBodyBytes)));
        KV_LOG(kToFile, Error, L"CCurlHttp::OnRecieveBody HTTP error  httpcode:%d %s", status, text.c_str());
        return 0;
    }
    CScopedLock lock(streamLock_);
    // Checked again under the lock: a cancelled transfer's streams may be closed.
    if (!sink_ || !IsAlive()) return 0;
    const int32_t written = sink_->Write(data, static_cast<uint32_t>(length));
    if (written < 0) {
        const int code = sink_->LastErrorCode();
        KV_LOG(kToConsole | kToFile, Error, L"CCurlHttp::OnRecieveBody  Write file error %d", code);
        return 0;
    }
    return static_cast<size_t>(written);
}

size_t CCurlHttp::OnSendBody(char* buffer, size_t length) {
    CScopedLock lock(streamLock_);
    if (!source_ || !IsAlive() || uploadSize_ == 0 || uploadPosition_ >= uploadSize_) return 0;
    const uint64_t want = std::min<uint64_t>(length, uploadSize_ - uploadPosition_);
    const int32_t read = source_->Read(buffer, static_cast<uint32_t>(want));
    if (read < 0) {
        KV_LOG(kToConsole | kToFile, Error, L"CCurlHttp::OnSendBody the request body could not be read: %u bytes at %llu of %llu",
               static_cast<unsigned>(want), static_cast<unsigned long long>(uploadPosition_),
               static_cast<unsigned long long>(uploadSize_));
        return 0;
    }
    uploadPosition_ += static_cast<uint64_t>(read);
    return static_cast<size_t>(read);
}

void CCurlHttp::CloseStreams() {
    CScopedLock lock(streamLock_);
    if (sink_) sink_->Close();
    if (source_) source_->Close();
}

ProtoValue CCurlHttp::HeaderSnapshot() {
    CScopedLock lock(streamLock_);
    ProtoValue map;
    for (const Field& field : fields_) {
        if (field.present) map[field.name] = ProtoValue(field.value);
    }
    return map;
}

bool CCurlHttp::GetHeader(const std::wstring& name, std::wstring* value) {
    const int kept = KeptFieldOf(name);
    CScopedLock lock(streamLock_);
    if (kept < 0 || !fields_[kept].present) return false;
    if (value) *value = fields_[kept].value;
    return true;
}
