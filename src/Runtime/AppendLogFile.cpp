#include "Runtime/AppendLogFile.h"

#include "Runtime/FileSystem.h"
#include "Runtime/TextUtils.h"

bool CAppendLogFile::Open(const std::wstring& path, std::wstring& why) {
    file_.reset();
    // Append access without write access: every write goes to the end of the
    // file, so an existing file's contents are never overwritten. A link as
    // the last step is opened as itself (and refused below), not followed.
    kv::UniqueKernelHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const DWORD openError = ::GetLastError();
    if (!file) {
        why = FormatString(L"cannot be opened (%u)", static_cast<unsigned>(openError));
        return false;
    }
    const bool created = openError != ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        why = L"is a device or a pipe, not a file";
    } else if (!::GetFileInformationByHandle(file.get(), &info)) {
        why = FormatString(L"cannot be examined (%u)", static_cast<unsigned>(::GetLastError()));
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        why = L"is a link";
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        why = L"is a folder";
    } else if (info.nNumberOfLinks != 1) {
        // Another name of the same file could be anything, a system file too.
        why = FormatString(L"has %u names (hard links)", static_cast<unsigned>(info.nNumberOfLinks));
    } else if (!IsAtFinalPath(file.get(), path)) {
        // A folder on the way was swapped for a link after it was looked at
        // (or is one the name checks cannot see): what opened lies elsewhere.
        why = L"it is a link or behind one";
    } else {
        file_ = std::move(file);
        if (created) Append("\xEF\xBB\xBF");
        return true;
    }
    return false;
}

bool CAppendLogFile::Append(const std::string& bytes) const {
    if (!file_) return false;
    DWORD written = 0;
    return ::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}
