#include "support/LogCapture.h"

#include "Runtime/LogSinks.h"

LogCapture::LogCapture() : path_(dir_.File(L"captured.log")) {
    file_ = _wfopen(path_.c_str(), L"wb");
    FileLogger::Instance().SetOutputFile(file_);
    auto* options = new LoggerOptions;
    options->appendNewline = true;
    FileLogger::Instance().SetOptions(options);
}

LogCapture::~LogCapture() {
    FileLogger::Instance().SetOptions(nullptr);
    FileLogger::Instance().SetOutputFile(nullptr);
    if (file_) std::fclose(file_);
}

std::wstring LogCapture::Text() const {
    // The logger flushes after every line; its file is UTF-16LE.
    const std::string bytes = ReadFileBytes(path_);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

size_t LogCapture::Count(const std::wstring& needle) const {
    const std::wstring text = Text();
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::wstring::npos; at = text.find(needle, at + needle.size())) ++count;
    return count;
}
