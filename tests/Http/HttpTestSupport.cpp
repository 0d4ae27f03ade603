#include "HttpTestSupport.h"

#include <winsock2.h>

uint16_t UnusedLoopbackPort() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::closesocket(s);
    ::WSACleanup();
    return ntohs(address.sin_port);
}

FileLogCapture::FileLogCapture() : path_(dir_.File(L"http.log")) {
    file_ = _wfopen(path_.c_str(), L"wb");
    FileLogger::Instance().SetOutputFile(file_);
    auto* options = new LoggerOptions;
    options->appendNewline = true;
    FileLogger::Instance().SetOptions(options);
}

FileLogCapture::~FileLogCapture() {
    FileLogger::Instance().SetOptions(nullptr);
    FileLogger::Instance().SetOutputFile(nullptr);
    if (file_) std::fclose(file_);
}

std::wstring FileLogCapture::Text() const {
    const std::string bytes = ReadFileBytes(path_);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

size_t FileLogCapture::Count(const std::wstring& needle) const {
    const std::wstring text = Text();
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::wstring::npos; at = text.find(needle, at + needle.size())) ++count;
    return count;
}
