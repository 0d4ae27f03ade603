#pragma once
// CProxyLogin: the user name and password for a proxy that asks for them
// (Basic or Digest), given by /PROXYUSER= and /PROXYPASS= or typed into the
// window's dialog. Kept in memory for the run only: never logged, never
// written anywhere. Any thread.
#include <string>

#include "Runtime/Lock.h"

class CProxyLogin {
public:
    static CProxyLogin& Instance();

    void Set(const std::wstring& user, const std::wstring& password);
    void Clear();
    // False, with both empty, while none were given; UTF-8 for libcurl.
    bool Get(std::string* user, std::string* password);

private:
    CProxyLogin() = default;
    CLock lock_;
    std::wstring user_;
    std::wstring password_;
    bool given_ = false;
};
