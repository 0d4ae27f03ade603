#pragma once
// Every retry count and delay of the installer, layer by layer, with the
// failure kinds (Http/FailureKind.h) each applies to. When does it give up,
// and why: read it here. The layers use these values by name; tests may
// shorten a task's copy where the wait only slows them. Constants, any thread.
#include <cstdint>

namespace kv::retry {

// ---- One transfer (CHttpBase and its tasks) --------------------------------
// Network kind only (a libcurl error: no answer, a cut or stalled transfer).
// An address gets this many retries after its first attempt; an HTTP error
// answer (4xx, 5xx) is not retried at the same address, and disk, locked,
// sign-in and other source failures end the attempts at that address at once.
constexpr int32_t kTransferRetries = 2;
// A retry starts one to two engine ticks after the failure.
constexpr uint32_t kTransferRetryDelayMs = 500;

// ---- The package's addresses (CHttpDownloadFile) ---------------------------
// Network and source kinds: once the main Url has used its retries (or
// answered with an HTTP error), each mirror (murl) in turn gets the same
// retries; then, once per download, the main host is resolved by the
// installer's own DNS client and each address found gets them too. A sign-in
// page moves on to the next mirror, never to the own DNS client; a disk or
// locked failure (also of one range of parallel ranges) ends the download.
// Per resolver of that client: the wait for its answer, from the send.
constexpr uint32_t kResolverWaitMs = 1500;

// ---- Parallel ranges (CSegmentedDownload) -----------------------------------
// Network kind: a source whose ranges fail or stall this many times in a row
// is dropped for the rest of that download; the others take its ranges.
constexpr int kRangeSourceStrikes = 3;

// ---- The descriptor (CUpdateModule) -----------------------------------------
// Every kind but disk: the fallback endpoint is asked once when the primary
// fails, within the same cycle.

// ---- The cycle (CInstallController) -----------------------------------------
// Network, source, sign-in, clock and refused kinds: everything above has
// failed; the whole cycle starts again from the primary endpoint this long
// after the failure (the download resumes its partial file), for ever in a
// window run. The user is told once per run of failures.
constexpr uint32_t kCycleDelayMs = 5000;
// Unattended (/S) runs end after /TIMEOUT= seconds of failures without
// progress (exit 3 network, 9 clock, 10 refused, 12 source or sign-in).
constexpr uint32_t kDefaultGiveUpSeconds = 600;
constexpr uint32_t kMaxGiveUpSeconds = 30u * 24 * 3600;

// ---- A file held by another program (CInstallController) --------------------
// Locked kind: the step (open, rename, run) is retried quietly, the first
// wait this long and each next one twice the last, until this much time has
// passed since the first lock; only then is the user told (exit 11).
constexpr uint32_t kLockedFirstWaitMs = 1000;
constexpr uint32_t kLockedGiveUpMs = 60000;

// ---- Disk kind ----------------------------------------------------------------
// Never retried by itself: hammering a full or read-only disk mends nothing.
// A window run goes back to the folder page; an unattended run ends (exit 5).

// ---- A package failing its digests (CInstallController) -----------------------
// Source kind. Bytes that came from several addresses are fetched again from
// the main Url alone at once; an address whose own bytes fail is dropped for
// the run and the next one is tried alone. A window run asks the user before
// each download from one address; an unattended run ends (exit 4) once the
// main Url and every mirror have each failed alone. An address taken alone
// that answers wrongly (4xx, not the package) is dropped the same way and the
// next one is taken alone.

}  // namespace kv::retry
