#include "Http/ProxyLogin.h"

#include <windows.h>

#include "Runtime/TextUtils.h"

CProxyLogin& CProxyLogin::Instance() {
    static auto* login = new CProxyLogin();
    return *login;
}

void CProxyLogin::Set(const std::wstring& user, const std::wstring& password) {
    CScopedLock hold(lock_);
    // The old password does not stay behind in the freed buffer.
    if (!password_.empty()) ::SecureZeroMemory(&password_[0], password_.size() * sizeof(wchar_t));
    user_ = user;
    password_ = password;
    given_ = true;
}

void CProxyLogin::Clear() {
    Set(L"", L"");
    CScopedLock hold(lock_);
    given_ = false;
}

bool CProxyLogin::Get(std::string* user, std::string* password) {
    CScopedLock hold(lock_);
    *user = given_ ? WideToUtf8(user_) : std::string();
    *password = given_ ? WideToUtf8(password_) : std::string();
    return given_;
}
