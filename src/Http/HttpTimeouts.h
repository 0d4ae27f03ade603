#pragma once
// HttpTimeouts: the time limits that every transfer (command or download)
// gives libcurl. The defaults below are the product's figures, kept in this
// one place; a task copies them and tests may shorten its copy. Value type.
#include <cstdint>

struct HttpTimeouts {
    // Name lookup plus TCP connect, per attempt. Three attempts of a dead
    // address end within a quarter of a minute; a lost SYN still gets one
    // retransmission (Windows waits 3 s) inside it.
    int32_t connectSec = 5;
    // An attempt that receives fewer than this many bytes per second for this
    // long ends with libcurl's time-out error and is retried (resuming a
    // download from its partial file). Only a stalled connection is that slow:
    // even a poor mobile link moves a segment every few seconds, and a minute
    // rides out TCP's back-off after a burst of losses.
    int32_t lowSpeedBytesPerSec = 10;
    int32_t lowSpeedSec = 60;
    // TCP keep-alive probes during quiet spells keep NAT and firewall state
    // alive and notice a peer that vanished without a word.
    int32_t keepAliveIdleSec = 30;
    int32_t keepAliveIntervalSec = 10;
};
