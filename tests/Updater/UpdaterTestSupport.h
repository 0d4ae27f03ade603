#pragma once
// Shared pieces of the update-module tests: a listener that records every
// event in order, and a fixture with both engines, the in-process HTTP
// server, a silent fake resolver for the package download and a package
// folder. Main thread only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Http/HttpResultCodes.h"
#include "support/HttpTestSupport.h"
#include "Updater/GameEventListener.h"
#include "Updater/UpdateModule.h"
#include "support/FakeDnsServer.h"

struct ModuleEvents : IGameEventListener {
    struct Descriptor {
        int errtype, code;
        std::wstring version, md5;
    };
    struct Progress {
        int64_t total, complete;
        uint64_t speed;
    };
    struct Done {
        int errtype, code;
        std::wstring message;
    };
    std::vector<Descriptor> descriptors;
    std::vector<Progress> progress;
    std::vector<Done> done;
    std::vector<char> order;  // 'D' descriptor, 'P' progress, 'E' end

    void OnProgress(int64_t total, int64_t complete, uint64_t speed) override {
        progress.push_back({total, complete, speed});
        order.push_back('P');
    }
    void OnDone(const HttpResult& result, const std::wstring& message) override {
        done.push_back({result.type, result.code, message});
        order.push_back('E');
    }
    void OnDescriptor(const HttpResult& result, const std::wstring& version, const std::wstring& md5) override {
        descriptors.push_back({result.type, result.code, version, md5});
        order.push_back('D');
    }
};

// "[Install]" text naming a package.
std::string DescriptorText(const std::string& url, size_t size, const std::string& md5, const std::string& version,
                           const std::string& murl = std::string());
std::string Md5Text(const std::string& bytes);
std::string Sha256Text(const std::string& bytes);
// "YYYY-MM-DDTHH:MM:SSZ" of now (UTC) plus `seconds` (negative: past).
std::string UtcTimestampFromNow(int64_t seconds);
// An HTTP Date `seconds` from now ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string HttpDateFromNow(int64_t seconds);

class UpdateModuleTest : public HttpEngineTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A module for packageDir with the given endpoints and the silent resolver.
    CUpdateModule& NewModule(std::vector<std::wstring> urls);
    bool WaitDescriptor(DWORD timeoutMs = 20000) {
        return PumpMessagesUntil([this] { return !events.descriptors.empty(); }, timeoutMs);
    }
    bool WaitDone(DWORD timeoutMs = 30000) {
        return PumpMessagesUntil([this] { return !events.done.empty(); }, timeoutMs);
    }

    TempDir dir;
    std::wstring packageDir;
    CFakeDnsServer dns;
    ModuleEvents events;
    std::unique_ptr<CUpdateModule> module;
};
