// The update module against the in-process server: endpoint fallback, the
// stored descriptor, the temporary file's fate, putting the package in place,
// progress merging and which module a callback or posted event reaches.
#include "UpdaterTestSupport.h"

#include "Runtime/Paths.h"
#include "Runtime/FileSystem.h"

namespace {
constexpr size_t kPackageSize = 200 * 1024;

std::wstring Narrow2Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
// The class names of the running modules' marker windows (message-only
// windows other programs may look for).
std::vector<std::wstring> MarkerClasses() {
    std::vector<std::wstring> classes;
    for (HWND w = nullptr; (w = ::FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr)) != nullptr;) {
        wchar_t name[128] = {};
        ::GetClassNameW(w, name, 128);
        if (std::wstring(name).rfind(L"_UPDATE_MODULE_HELPER_WINDOW_KORVEL", 0) == 0) classes.push_back(name);
    }
    return classes;
}

}  // namespace

// A good run: the primary endpoint fails, the fallback answers; exactly one
// OnDescriptor (errtype 0), then progress, then OnDone(0, 0, "") with the
// package in place and the temporary file gone.
TEST_F(UpdateModuleTest, FallbackEndpointAfterPrimaryFailsThenPackageInPlace) {
    const std::string package = TestBytes(kPackageSize);
    const std::string md5 = Md5Text(package);
    server.Route("/primary/kvinstall.txt", TestHttpResponse::Status(500));
    server.Route("/kvinstall.txt", TestHttpResponse::Ok(DescriptorText(server.Url("/pkg.exe"), package.size(), md5, "3.2.1")));
    server.Route("/pkg.exe", TestHttpResponse::Ok(package));

    CUpdateModule& m = NewModule({server.WideUrl("/primary/kvinstall.txt"), server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    ASSERT_TRUE(Settle());

    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].errtype, 0);
    EXPECT_EQ(events.descriptors[0].version, L"3.2.1");
    EXPECT_EQ(events.descriptors[0].md5, Narrow2Wide(md5));
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_EQ(events.done[0].errtype, 0);
    EXPECT_EQ(events.done[0].code, 0);
    EXPECT_EQ(events.done[0].message, L"");
    EXPECT_EQ(events.order.front(), 'D');
    EXPECT_EQ(events.order.back(), 'E');
    EXPECT_EQ(m.PackagePath(), packageDir + L"\\kvinstaller.exe");
    EXPECT_EQ(m.TempPath(), packageDir + L"\\kvinstaller_3.2.1.tmp");
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == package);
    EXPECT_EQ(GetFileSize64(m.TempPath()), -1);
    EXPECT_EQ(server.RequestCount("/primary/kvinstall.txt"), 1u);  // HTTP errors are not repeated

    // The stored copy: FF FE, then the body as UTF-16LE.
    const std::string stored = ReadFileBytes(packageDir + L"\\kvinstall.ini");
    const std::wstring text = Narrow2Wide(DescriptorText(server.Url("/pkg.exe"), package.size(), md5, "3.2.1"));
    ASSERT_EQ(stored.size(), 2 + 2 * text.size());
    EXPECT_EQ(stored.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(stored.data() + 2), text.size()), text);
}

// Both endpoints fail: one OnDescriptor with the fallback's pair and empty
// values; starting again from index 0 asks the primary again.
TEST_F(UpdateModuleTest, BothEndpointsFailThenRestartAsksThePrimaryAgain) {
    server.Route("/a/kvinstall.txt", TestHttpResponse::Status(500));
    server.Route("/b/kvinstall.txt", TestHttpResponse::Status(404));
    CUpdateModule& m = NewModule({server.WideUrl("/a/kvinstall.txt"), server.WideUrl("/b/kvinstall.txt")});
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDescriptor());
    ASSERT_TRUE(Settle());
    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].errtype, 4);
    EXPECT_EQ(events.descriptors[0].code, 404);
    EXPECT_EQ(events.descriptors[0].version, L"");
    EXPECT_EQ(events.descriptors[0].md5, L"");
    EXPECT_TRUE(events.done.empty());

    m.SetUrlIndex(0);
    m.FetchDescriptor();
    ASSERT_TRUE(PumpMessagesUntil([&] { return events.descriptors.size() == 2; }, 20000));
    EXPECT_EQ(server.RequestCount("/a/kvinstall.txt"), 2u);
    EXPECT_EQ(server.RequestCount("/b/kvinstall.txt"), 2u);
    EXPECT_EQ(events.descriptors[1].code, 404);
}

// Answers that are not a descriptor fail their endpoint with their own kind
// and leave the stored copy as it was: a sign-in page (by its type or by its
// markup) and text without a package address.
TEST_F(UpdateModuleTest, AnswersThatAreNotADescriptorFailWithTheirKind) {
    const TestHttpResponse typed = TestHttpResponse::Ok("[Install]\r\nUrl=http://127.0.0.1:1/x.exe\r\n")
                                       .With("Content-Type", "text/html; charset=utf-8");
    const struct {
        const char* what;
        TestHttpResponse answer;
        HttpResult expected;
    } cases[] = {
        {"html type", typed, kSignInPage},
        {"markup", TestHttpResponse::Ok("\xEF\xBB\xBF \r\n<!DOCTYPE html><p>Sign in</p>"), kSignInPage},
        {"no Install section", TestHttpResponse::Ok("[Other]\r\nUrl=http://127.0.0.1:1/x.exe\r\n"), kDescriptorWithoutUrl},
        {"empty", TestHttpResponse::Ok(""), kDescriptorWithoutUrl},
    };
    ASSERT_TRUE(EnsureDirExists(packageDir));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        events = ModuleEvents();
        WriteBytes(packageDir + L"\\kvinstall.ini", "kept");
        server.Route("/kvinstall.txt", c.answer);
        server.Route("/down/kvinstall.txt", TestHttpResponse::Status(503));  // a fallback that hides nothing
        CUpdateModule& m = NewModule({server.WideUrl("/kvinstall.txt"), server.WideUrl("/down/kvinstall.txt")});
        ASSERT_TRUE(m.Start());
        ASSERT_TRUE(WaitDescriptor());
        ASSERT_EQ(events.descriptors.size(), 1u);
        EXPECT_EQ(events.descriptors[0].errtype, c.expected.type);
        EXPECT_EQ(events.descriptors[0].code, c.expected.code);
        EXPECT_TRUE(events.done.empty());
        EXPECT_EQ(ReadFileBytes(packageDir + L"\\kvinstall.ini"), "kept");
        m.Stop();
    }
}

// Before a byte is fetched the package folder's drive must hold what is
// still missing: a partial file counts as already there.
TEST_F(UpdateModuleTest, TooLittleRoomForWhatIsMissingFailsBeforeAnyRequest) {
    const std::string package = TestBytes(kPackageSize, 4);
    server.Route("/kvinstall.txt", TestHttpResponse::Ok(DescriptorText(server.Url("/pkg.exe"), package.size(), "", "9")));
    server.Route("/pkg.exe", TestHttpResponse::Ok(package));
    ASSERT_TRUE(EnsureDirExists(packageDir));
    WriteBytes(packageDir + L"\\kvinstaller_9.tmp", package.substr(0, 1000));
    CUpdateModule& m = NewModule({server.WideUrl("/kvinstall.txt")});
    m.SetFreeSpaceQuery([](const std::wstring&) { return uint64_t{kPackageSize - 1001}; });
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.done[0].errtype, kNoRoomForPackage.type);
    EXPECT_EQ(events.done[0].code, kNoRoomForPackage.code);
    EXPECT_EQ(m.BytesStillNeeded(), kPackageSize - 1000);
    EXPECT_EQ(server.RequestCount("/pkg.exe"), 0u);
    EXPECT_EQ(GetFileSize64(m.TempPath()), 1000);  // the partial file is kept
}

// A download that fails after part of the body keeps the partial file for a
// later resume; one that never got a byte leaves no empty file behind.
TEST_F(UpdateModuleTest, FailedDownloadKeepsAPartialFileAndRemovesAnEmptyOne) {
    const std::string package = TestBytes(kPackageSize, 2);
    // 40 KiB, then the connection closes; the retry with a range gets 404,
    // which ends the run (after the silent resolver).
    TestHttpResponse partial = TestHttpResponse::Ok(package);
    partial.honourRange = true;
    partial.pieceSize = 8 * 1024;
    partial.closeAfterBodyBytes = 40 * 1024;
    server.RouteSequence("/pkg.exe", {partial, TestHttpResponse::Status(404)});
    server.Route("/kvinstall.txt", TestHttpResponse::Ok(DescriptorText(server.Url("/pkg.exe"), package.size(), "", "1")));
    CUpdateModule& m = NewModule({server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_EQ(events.done[0].errtype, 4);
    EXPECT_EQ(events.done[0].message, L"安装失败");
    EXPECT_GT(GetFileSize64(m.TempPath()), 0);
    EXPECT_EQ(GetFileSize64(m.PackagePath()), -1);

    // Same again with only 404s: nothing was written, so no file stays.
    RemoveFile(m.TempPath());
    m.Stop();
    events = ModuleEvents();
    server.Route("/pkg.exe", TestHttpResponse::Status(404));
    CUpdateModule& again = NewModule({server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(again.Start());
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.done[0].errtype, 4);
    EXPECT_EQ(GetFileSize64(again.TempPath()), -1);
}

// An existing "kvinstaller.exe" that cannot be replaced (read-only, or held
// open without sharing) gives OnDone(3, -1, "") and keeps the download.
// A read-only target cannot be replaced: (3, -1); one held by another
// program is a lock, not a fault of the disk.
TEST_F(UpdateModuleTest, PackageThatCannotBeReplacedGivesThreeMinusOneOrLocked) {
    const std::string package = TestBytes(4096, 3);
    server.Route("/kvinstall.txt", TestHttpResponse::Ok(DescriptorText(server.Url("/pkg.exe"), package.size(), "", "7")));
    server.Route("/pkg.exe", TestHttpResponse::Ok(package));
    ASSERT_TRUE(EnsureDirExists(packageDir));
    const std::wstring target = packageDir + L"\\kvinstaller.exe";

    WriteBytes(target, "old");
    ASSERT_TRUE(::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    CUpdateModule& m = NewModule({server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.done[0].errtype, 3);
    EXPECT_EQ(events.done[0].code, -1);
    EXPECT_EQ(events.done[0].message, L"");
    EXPECT_TRUE(ReadFileBytes(m.TempPath()) == package);
    EXPECT_EQ(ReadFileBytes(target), "old");
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);

    m.Stop();
    events = ModuleEvents();
    HANDLE locked = ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    CUpdateModule& again = NewModule({server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(again.Start());
    ASSERT_TRUE(WaitDone());
    ::CloseHandle(locked);
    EXPECT_EQ(events.done[0].errtype, kFileLocked.type);
    EXPECT_EQ(events.done[0].code, kFileLocked.code);
}

// A Version from the network cannot steer the temporary file out of the
// package folder, nor make the download fail.
TEST_F(UpdateModuleTest, HostileVersionStaysInsideThePackageFolder) {
    const std::string package = TestBytes(3000, 4);
    const std::string version = "..\\..\\x:evil/..|<>?*\"";
    server.Route("/kvinstall.txt", TestHttpResponse::Ok(DescriptorText(server.Url("/pkg.exe"), package.size(), "", version)));
    server.Route("/pkg.exe", TestHttpResponse::Ok(package));
    CUpdateModule& m = NewModule({server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(events.done[0].errtype, 0);
    EXPECT_EQ(DirOfFile(m.TempPath()), packageDir);
    EXPECT_EQ(m.TempPath().find(L".."), std::wstring::npos);
    EXPECT_TRUE(ReadFileBytes(m.PackagePath()) == package);
    EXPECT_EQ(events.descriptors[0].version, Narrow2Wide(version));  // the listener gets the value as read
}

// Progress reports that arrive before the UI thread runs are merged into one
// call with the latest values; progress after the result does nothing.
TEST_F(UpdateModuleTest, ProgressMergesAndNothingFollowsTheResult) {
    TestHttpResponse slow = TestHttpResponse::Ok(TestBytes(1000));
    slow.delayBeforeHeadersMs = 1500;
    server.Route("/pkg.exe", slow);
    server.Route("/kvinstall.txt", TestHttpResponse::Ok(DescriptorText(server.Url("/pkg.exe"), 1000, "", "1")));
    CUpdateModule& m = NewModule({server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(WaitDescriptor());
    events.progress.clear();
    const uintptr_t owner = m.CallbackOwner();
    CUpdateModule::OnDownloadProgress(owner, 1000, 10, 5);
    CUpdateModule::OnDownloadProgress(owner, 1000, 20, 6);
    CUpdateModule::OnDownloadProgress(owner, 1000, 30, 7);
    ASSERT_TRUE(RunQueuedMainThreadTasks());
    ASSERT_EQ(events.progress.size(), 1u);
    EXPECT_EQ(events.progress[0].complete, 30);
    EXPECT_EQ(events.progress[0].speed, 7u);

    ASSERT_TRUE(WaitDone());
    const size_t before = events.progress.size();
    CUpdateModule::OnDownloadProgress(owner, 1000, 999, 1);
    CUpdateModule::OnDownloadFinished(owner, HttpResult{5, 7});
    ASSERT_TRUE(RunQueuedMainThreadTasks());
    EXPECT_EQ(events.progress.size(), before);
    EXPECT_EQ(events.done.size(), 1u);
}

// Two modules at once: each has its own callback owner and its events reach
// only its own listener; a stopped module's owner reaches nobody, not even
// the same module started again.
TEST_F(UpdateModuleTest, TwoModulesNeverGetEachOthersEvents) {
    server.Route("/a/kvinstall.txt", TestHttpResponse::Status(404));
    server.Route("/b/kvinstall.txt", TestHttpResponse::Status(500));
    ModuleEvents other;
    CUpdateModule first(packageDir, &events);
    first.SetDescriptorUrls({server.WideUrl("/a/kvinstall.txt")});
    CUpdateModule second(packageDir, &other);
    second.SetDescriptorUrls({server.WideUrl("/b/kvinstall.txt")});
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    EXPECT_NE(first.CallbackOwner(), 0u);
    EXPECT_NE(second.CallbackOwner(), 0u);
    EXPECT_NE(first.CallbackOwner(), second.CallbackOwner());
    const std::vector<std::wstring> markers = MarkerClasses();
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_NE(markers[0], markers[1]);
    ASSERT_TRUE(PumpMessagesUntil([&] { return events.descriptors.size() == 1 && other.descriptors.size() == 1; },
                                  20000));
    EXPECT_EQ(events.descriptors[0].code, 404);
    EXPECT_EQ(other.descriptors[0].code, 500);

    const uintptr_t stale = first.CallbackOwner();
    first.Stop();
    EXPECT_EQ(first.CallbackOwner(), 0u);
    first.SetUrlIndex(0);
    ASSERT_TRUE(first.Start());  // a fresh owner; the fetch fails again with 404
    EXPECT_NE(first.CallbackOwner(), stale);
    ASSERT_TRUE(PumpMessagesUntil([&] { return events.descriptors.size() == 2; }, 20000));
    CUpdateModule::OnDescriptorFetched(stale, CommandResponse{"", {4, 401}, "", -1});
    CUpdateModule::OnDescriptorFetched(second.CallbackOwner(), CommandResponse{"", {4, 402}, "", -1});
    ASSERT_TRUE(RunQueuedMainThreadTasks());
    EXPECT_EQ(events.descriptors.size(), 2u);
    ASSERT_EQ(other.descriptors.size(), 2u);
    EXPECT_EQ(other.descriptors[1].code, 402);
    first.Stop();
    second.Stop();
    EXPECT_TRUE(MarkerClasses().empty());
}

// Regression: a module deleted without Stop() left its hidden window pointing
// at freed memory; an event posted for it then ran on a dead object. Now an
// event posted before the deletion, and a callback after it, find nothing.
TEST_F(UpdateModuleTest, DeletingAModuleWithoutStopLeavesNoEventForIt) {
    TestHttpResponse slow = TestHttpResponse::Ok(TestBytes(1000));
    slow.delayBeforeHeadersMs = 1500;
    server.Route("/pkg.exe", slow);
    server.Route("/kvinstall.txt", TestHttpResponse::Ok(DescriptorText(server.Url("/pkg.exe"), 1000, "", "1")));
    auto* m = new CUpdateModule(packageDir, &events);
    m->SetDescriptorUrls({server.WideUrl("/kvinstall.txt")});
    m->PackageDownload().Resolver().SetResolvers({dns.Endpoint()});
    ASSERT_TRUE(m->Start());
    ASSERT_TRUE(WaitDescriptor());  // the package download is running: a result would be handled
    const uintptr_t owner = m->CallbackOwner();
    CUpdateModule::OnDownloadFinished(owner, HttpResult{4, 404});
    ASSERT_EQ(MarkerClasses().size(), 1u);
    delete m;
    EXPECT_TRUE(MarkerClasses().empty());
    CUpdateModule::OnDownloadProgress(owner, 1000, 10, 5);
    CUpdateModule::OnDownloadFinished(owner, HttpResult{4, 404});
    ASSERT_TRUE(RunQueuedMainThreadTasks());
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(events.done.empty());
    EXPECT_TRUE(events.progress.empty());
}

// A marker class that cannot be registered (here: its next number is taken)
// is logged with the console's and the file's own texts, and Start goes on.
TEST_F(UpdateModuleTest, MarkerClassTakenIsLoggedAndStartGoesOn) {
    server.Route("/kvinstall.txt", TestHttpResponse::Status(404));
    CUpdateModule first(packageDir, &events);
    first.SetDescriptorUrls({server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(first.Start());
    const std::vector<std::wstring> markers = MarkerClasses();
    ASSERT_EQ(markers.size(), 1u);
    const wchar_t* prefix = L"_UPDATE_MODULE_HELPER_WINDOW_KORVEL";
    const int number = std::stoi(markers[0].substr(wcslen(prefix)));
    const std::wstring taken = prefix + std::to_wstring(number + 1);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = taken.c_str();
    ASSERT_NE(::RegisterClassExW(&wc), 0);

    ModuleEvents other;
    CUpdateModule second(packageDir, &other);
    second.SetDescriptorUrls({server.WideUrl("/kvinstall.txt")});
    LogCapture log;
    EXPECT_TRUE(second.Start());
    EXPECT_EQ(log.Count(L"[UM]rcls 1:" + std::to_wstring(ERROR_CLASS_ALREADY_EXISTS)), 1u);
    EXPECT_EQ(log.Count(L"[UM]regclass"), 0u);  // the console's text stays on the console
    EXPECT_EQ(MarkerClasses().size(), 1u);
    second.Stop();
    first.Stop();
    ::UnregisterClassW(taken.c_str(), wc.hInstance);
    EXPECT_TRUE(MarkerClasses().empty());
}

TEST_F(UpdateModuleTest, StartFailsWhenThePackageFolderCannotBeCreated) {
    const std::wstring file = dir.File(L"plain-file");
    WriteBytes(file, "x");
    CUpdateModule m(file + L"\\sub", &events);
    m.SetDescriptorUrls({server.WideUrl("/kvinstall.txt")});
    EXPECT_FALSE(m.Start());
    m.Stop();
}

// The package folder vanishes while the descriptor is on its way and cannot
// be made again (its parent became a file): the download cannot start, and
// the owner still gets one result to retry on.
// Regression: the start returned silently and OnDone never came.
TEST_F(UpdateModuleTest, PackageFolderGoneAtDownloadStartStillEndsInAResult) {
    TestHttpResponse late = TestHttpResponse::Ok(DescriptorText(server.Url("/pkg.exe"), 1000, "", "1"));
    late.delayBeforeHeadersMs = 1000;
    server.Route("/kvinstall.txt", late);
    const std::wstring outer = dir.File(L"outer");
    packageDir = outer + L"\\pkg";
    CUpdateModule& m = NewModule({server.WideUrl("/kvinstall.txt")});
    ASSERT_TRUE(m.Start());
    ASSERT_TRUE(::RemoveDirectoryW(packageDir.c_str()));
    ASSERT_TRUE(::RemoveDirectoryW(outer.c_str()));
    WriteBytes(outer, "not a folder");
    ASSERT_TRUE(WaitDone(15000)) << "no result after the download could not start";
    ASSERT_EQ(events.descriptors.size(), 1u);
    EXPECT_EQ(events.descriptors[0].errtype, 0);
    ASSERT_EQ(events.done.size(), 1u);
    EXPECT_NE(events.done[0].errtype, 0);
    EXPECT_EQ(events.done[0].message, L"安装失败");
    EXPECT_EQ(server.RequestCount("/pkg.exe"), 0u);
}
