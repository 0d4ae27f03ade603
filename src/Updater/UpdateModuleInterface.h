#pragma once
// IUpdateModule: what the installation controller asks of the update module
// (CUpdateModule; tests give the controller a fake). It reports back through
// IGameEventListener. Main thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class IGameEventListener;

class IUpdateModule {
public:
    virtual ~IUpdateModule() = default;

    // Fetches the descriptor from the first endpoint; false when the package
    // folder can neither be found nor created.
    virtual bool Start() = 0;
    // Another cycle from the first endpoint (the download resumes its file).
    virtual void Restart() = 0;
    // Ends all activity; nothing more reaches the listener.
    virtual void Stop() = 0;

    // Download the package from this one address alone, as one stream (a
    // source of the descriptor's list); "" (the default) takes every source
    // at once. An address the descriptor no longer names counts as "".
    virtual void SetOnlySource(const std::wstring& url) = 0;
    // The descriptor's package addresses in the order a download tries them
    // (empty before a descriptor was read).
    virtual std::vector<std::wstring> PackageSources() const = 0;
    // The addresses that delivered bytes of the last download, in order; ""
    // first when bytes of an earlier download (of unknown addresses) are in it.
    virtual std::vector<std::wstring> SourcesUsed() const = 0;

    // The descriptor's optional Sha256 ("" when absent).
    virtual const std::wstring& ExpectedSha256() const = 0;
    // Bytes of the package not yet on disk (Size less the partial file);
    // 0 before a descriptor named a Size.
    virtual uint64_t BytesStillNeeded() const = 0;
    // The Date of the last descriptor answer, seconds since 1970 UTC; -1 when
    // none was read.
    virtual int64_t ServerTime() const = 0;
};

// Makes the update module for a package folder, reporting to `listener`.
using UpdateModuleFactory =
    std::function<std::unique_ptr<IUpdateModule>(const std::wstring& packageDir, IGameEventListener* listener)>;
