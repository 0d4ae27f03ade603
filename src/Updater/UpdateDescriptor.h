#pragma once
// The update descriptor: an INI text whose section "Install" names the
// package (Url, murl, Size, Md5, Version; Sha256 and Expires when signed).
// Reading follows the platform's private-profile rules; stateless, any thread.
#include <cstddef>
#include <cstdint>
#include <string>

struct DescriptorValues {
    std::wstring url, murl, size, md5, version;
    std::wstring sha256;  // optional SHA-256 of the package, 64 hexadecimal digits
    std::wstring expires;  // end of a signed descriptor's validity, "YYYY-MM-DDTHH:MM:SSZ" (UTC)
    // Optional piece digests: the piece size in bytes and the SHA-256 of
    // every piece, hexadecimal, concatenated (Http/PieceDigests.h).
    std::wstring pieceSize, pieces;
};

// Longest value kept, in UTF-16 code units (a 2048-unit buffer with its terminator).
constexpr size_t kDescriptorValueMax = 2047;
// Longest Pieces value kept: the descriptor's whole body cap (64 KiB); a
// longer one is cut and then fails its count.
constexpr size_t kPiecesValueMax = 64 * 1024;

// The value of `key` in `section` of an INI text: section and key names
// compare without case, blanks around key and value are dropped, one pair of
// enclosing quotes (" or ') is removed, the first occurrence counts. "" when
// absent. Values are cut to `maxLength` code units.
std::wstring ReadIniValue(const wchar_t* text, size_t length, const std::wstring& section, const std::wstring& key,
                          size_t maxLength = kDescriptorValueMax);
// The "Install" values of a descriptor text.
DescriptorValues ReadInstallSection(const wchar_t* text, size_t length);
inline DescriptorValues ReadInstallSection(const std::wstring& text) {
    return ReadInstallSection(text.data(), text.size());
}
// The stored copy's bytes back to text: FF FE gives UTF-16LE, EF BB BF UTF-8,
// anything else the ANSI code page.
std::wstring DecodeStoredDescriptor(const std::string& bytes);

// "Expires" as "YYYY-MM-DDTHH:MM:SSZ" (UTC, ISO 8601, nothing else) to a
// FILETIME count (100 ns since 1601); false for any other text or a date that
// does not exist.
bool ParseExpires(const std::wstring& text, uint64_t& fileTime);
// Why the values of a signed descriptor must not be used at `now` (a FILETIME
// count, UTC): no Sha256 of 64 hexadecimal digits, or an Expires missing,
// malformed or not later than now (then exactly kDescriptorExpired). Null
// when they may be used.
extern const wchar_t kDescriptorExpired[];
const wchar_t* SignedValuesProblem(const DescriptorValues& values, uint64_t now);

// "Size": leading white space skipped, decimal digits up to the first other
// character; 0 without digits. Saturates instead of overflowing.
int64_t ParseDescriptorSize(const std::wstring& text);

// A Version value as it may appear in a file name: path separators, colons,
// ".." and every character Windows forbids in names become "_"; an ordinary
// version such as "3.2.1" stays as it is. Very long values are shortened
// (keeping a digest of the whole) so the path stays within MAX_PATH.
std::wstring SafeVersionForFileName(const std::wstring& version);
