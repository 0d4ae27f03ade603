#pragma once
// What a failure is, as the user and the retry logic see it: one kind per
// (error type, code) pair, decided in one place so that every layer, the
// window's text, the log and the exit code agree. Any thread.
#include "Http/HttpResult.h"

enum class FailureKind {
    kNone,     // (0, 0)
    kNetwork,  // unreachable, DNS, time-outs, stalls, cut transfers, 5xx: waiting mends it
    kSource,   // a server answers, but wrongly: 4xx, wrong length, a range it was not asked for, bad digests
    kSignIn,   // an HTML page (or a 511) answered instead: a network that wants a sign-in first
    kDisk,     // this computer's disk: cannot create, write or rename, or no room for the package
    kClock,    // this computer's clock is far from the server's, so a signed descriptor looks expired
    kRefused,  // the descriptor's signature, digest lines or Expires fail with a sane clock
    kLocked,   // another program holds a file the step needs
    kProxyAuth,  // a 407: the proxy wants to know who the user is, and what it was given did not do
};

FailureKind Classify(const HttpResult& result);

// A short English name for the log ("network", "disk", ...).
const wchar_t* FailureKindName(FailureKind kind);
