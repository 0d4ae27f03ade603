#pragma once
// A log file named by whoever started the (elevated) process: opened for
// appending only, never through a link at its last step, and kept only when
// it is a plain disk file with a single name. Nothing already in it is ever
// truncated or overwritten. Open and close on one thread; Append from any.
#include <windows.h>

#include <string>

#include "Runtime/Handles.h"

class CAppendLogFile {
public:
    // Opens or creates `path` (a full path) once; false with the reason in
    // `why` (and nothing written) when it cannot be opened or is not a plain
    // file with one name at that very path: a link or behind one (its final
    // path differs), a folder, a device, a pipe, or a file with several hard
    // links.
    // A newly created file starts with the UTF-8 byte-order mark.
    bool Open(const std::wstring& path, std::wstring& why);
    bool IsOpen() const { return static_cast<bool>(file_); }
    HANDLE Handle() const { return file_.get(); }
    // Appends the bytes at the end of the file, whoever else appends too.
    bool Append(const std::string& bytes) const;
    void Close() { file_.reset(); }

private:
    kv::UniqueKernelHandle file_;
};
