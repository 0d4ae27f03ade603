#pragma once
// Test and demo builds only: the descriptor endpoints of a local update
// server chosen at run time. Main thread only.
#include <string>
#include <vector>

class CUpdateModule;

// The loopback URLs in KV_DESCRIPTOR_URLS ("primary;fallback"). Empty in a
// build without KV_LOOPBACK_ONLY, when the variable is unset, or when any URL
// is not http on 127.x.x.x or localhost (the built-in list then stays).
std::vector<std::wstring> DescriptorUrlOverride();
// True for "http://" + localhost or a 127.x.x.x address, an optional port,
// and no user-info part.
bool IsLoopbackHttpUrl(const std::wstring& url);
// Hands a non-empty override to the module before it starts.
void ApplyDescriptorUrlOverride(CUpdateModule& module);
