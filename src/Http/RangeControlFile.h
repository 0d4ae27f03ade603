#pragma once
// CRangeControlFile: the state of a segmented download kept beside its
// partial file ("<partial>.ranges"): the package size, the complete prefix
// and the byte ranges still missing. Written whole to a new file and moved
// over the old one, so a killed process leaves the last state or the one
// before. Read as hostile input (the folder may be writable by anyone):
// bounded size, checksums, every range checked against the package size.
// Encode/Decode/Decide are pure; Save/Load/Remove touch the disk. Any thread,
// one caller per path at a time.
#include <cstdint>
#include <string>
#include <vector>

#include "Http/RangePlan.h"

class CRangeControlFile {
public:
    // Layout, little-endian:
    //   0  "KVRG"   4  version (u16)   6  range count n (u16)
    //   8  package size (u64)   16  complete prefix (u64)
    //   24 CRC-32 of bytes 0..23 (the header's own check)
    //   28 n x (from u64, to u64): missing byte ranges, ascending, disjoint
    //   28 + 16n  CRC-32 of everything before it
    // Version 2 has the same layout and says more: every byte outside the
    // missing ranges belongs to a piece that matched its digest. Version 1
    // (no piece digests, or written before they existed) says only that the
    // bytes were written.
    static constexpr uint16_t kVersion = 1;
    static constexpr uint16_t kVersionPiecesVerified = 2;
    static constexpr size_t kHeaderBytes = 28;
    static constexpr size_t kRangeBytes = 16;
    static constexpr size_t kMaxBytes = kHeaderBytes + CRangePlan::kMaxRanges * kRangeBytes + 4;

    struct State {
        uint64_t total = 0;
        uint64_t prefix = 0;
        std::vector<ByteRange> missing;
        bool piecesVerified = false;  // written as version 2
    };

    enum class Parse {
        Absent,      // no control file
        Unreadable,  // nothing in it can be trusted (header damaged)
        PrefixOnly,  // the header holds, the range list does not: `prefix` only
        Valid,       // everything holds
    };

    // What a download does with its partial file.
    struct Resume {
        enum Kind {
            Plain,   // no control file: the partial file is a plain prefix (as a single stream wrote it)
            Prefix,  // keep bytes [0, prefix) only (truncate), then go on from there
            Ranges,  // fetch exactly `missing`; the rest of the file is written
        } kind = Plain;
        uint64_t prefix = 0;
        std::vector<ByteRange> missing;
        bool piecesVerified = false;  // Ranges: the bytes outside `missing` are verified pieces
    };

    static std::string Encode(const State& state);
    // `bytes` of any length and content; `state` is filled as far as trusted.
    static Parse Decode(const std::string& bytes, State* state);
    // The decision from what was read, the size the package must have and the
    // partial file's length. The ranges are taken only when everything
    // matches; otherwise only a prefix that is known to be complete is kept.
    static Resume Decide(Parse parse, const State& state, uint64_t expectedSize, uint64_t fileLength);

    static std::wstring PathFor(const std::wstring& partialPath) { return partialPath + L".ranges"; }
    // Writes `<path>.new` through to the disk and moves it over `path` (the
    // move written through too). False on any failure
    // (the previous control file, if any, is then left as it was).
    static bool Save(const std::wstring& path, const State& state);
    static Parse Load(const std::wstring& path, State* state);
    static bool Remove(const std::wstring& path);
};
