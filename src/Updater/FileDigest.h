#pragma once
// The digests of a whole file, computed in one pass over it: MD5 always,
// SHA-256 when asked for. Any thread.
#include <windows.h>

#include <string>

struct FileDigests {
    std::wstring md5;     // 32 lowercase hexadecimal digits, "" when unreadable
    std::wstring sha256;  // 64 lowercase hexadecimal digits, "" when not asked for or unreadable
};

FileDigests DigestFile(const std::wstring& path, bool withSha256);
// The same over a file the caller has opened for reading, from its start;
// the handle stays the caller's.
FileDigests DigestOpenFile(HANDLE file, bool withSha256);

// Whether a digest text from the descriptor names `actual`: the same
// hexadecimal digits in any case.
bool SameDigest(const std::wstring& expected, const std::wstring& actual);
