// Real files, only owner and access-list reads faked: "(user)" names, or folders holding "owner-user" or "admits-users", are a user's.
#include <gtest/gtest.h>
#include "App/StagingFolder.h"
#include "Runtime/FileSystem.h"
#include "support/Files.h"
#include "support/LogCapture.h"

static bool g_volumeKeeps = true;  // else every read says "a user's"
static bool Marked(const std::wstring& path, const wchar_t* mark) { return path.find(L"(user)") != std::wstring::npos || Exists(path + L"\\" + mark); }
static bool FakeAdminOnly(HANDLE object, SE_OBJECT_TYPE, bool ownerOnly) {
    const std::wstring path = FinalPathOf(object);
    return g_volumeKeeps && !Marked(path, L"owner-user") && (ownerOnly || !Marked(path, L"admits-users"));
}

// A foreign folder is made again, empty; an own one (or any where the volume
// keeps no descriptor) keeps its plain single-name files, a user's only there.
TEST(StagingFolder, AForeignFolderIsMadeAgainAndOnlyPlainOwnFilesResume) {
    const struct { const wchar_t* mark; bool volumeKeeps, remade; } cases[] = {  // mark nullptr: no folder
        {L"plain", true, false}, {L"owner-user", true, true}, {L"admits-users", true, true},
        {L"owner-user", false, false}, {nullptr, true, false}, {nullptr, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        TempDir parent;
        const std::wstring folder = parent.File(L"KorvelQixarInstaller"), partial = folder + L"\\kvinstaller_1.tmp";
        if (c.mark) {
            ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
            for (const std::wstring& name : {partial, partial + L".ranges(user)", folder + L"\\kvinstall.ini", folder + L"\\" + c.mark}) WriteText(name, "x");
            ASSERT_TRUE(::CreateHardLinkW(parent.File(L"elsewhere.ini").c_str(), (folder + L"\\kvinstall.ini").c_str(), nullptr));
        }
        g_volumeKeeps = c.volumeKeeps;
        const LogCapture log; CStagingFolder staging(FakeAdminOnly);
        ASSERT_TRUE(staging.Prepare(parent.Path())) << log.Text();
        EXPECT_EQ(Exists(partial), c.mark && !c.remade);
        EXPECT_EQ(Exists(partial + L".ranges(user)"), c.mark && !c.remade && !c.volumeKeeps);
        EXPECT_FALSE(Exists(folder + L"\\kvinstall.ini"));  // two names: this one goes
        EXPECT_EQ(log.Count(L"foreign, made again"), c.remade ? 1u : 0u);
        EXPECT_EQ(log.Count(L"no access lists kept"), c.volumeKeeps ? 0u : 1u);
        EXPECT_EQ(FakeAdminOnly(HoldFolder(folder).get(), SE_FILE_OBJECT, false), c.volumeKeeps);
        WIN32_FIND_DATAW found;  // no probe left
        EXPECT_FALSE(::FindNextFileW(kv::UniqueFind(::FindFirstFileW(parent.File(L"K*").c_str(), &found)).get(), &found));
    }
    g_volumeKeeps = true;
}

// Host links (with-host-fixtures.sh) at or in the folder go as themselves or, where the
// system follows them all the same (Wine), a fresh folder of the run's own is used and
// removed on release; their target stays.
TEST(HostFixture, LinksAtTheStagingFolderAreRemovedNotFollowed) {
    if (!_wgetenv(L"KV_STAGING_LINKED")) GTEST_SKIP() << "run through with-host-fixtures.sh";
    for (const std::wstring parent : {_wgetenv(L"KV_STAGING_LINKED"), _wgetenv(L"KV_STAGING_HOLDING")}) {
        g_volumeKeeps = parent == _wgetenv(L"KV_STAGING_LINKED");  // else the plain partial file stays
        const LogCapture log; CStagingFolder staging(FakeAdminOnly);
        const std::wstring folder = parent + L"\\KorvelQixarInstaller";
        ASSERT_TRUE(staging.Prepare(parent)) << log.Text();
        const std::wstring used = staging.Path();
        const bool fresh = used != folder;
        EXPECT_EQ(log.Count(L"a fresh folder instead"), fresh ? 1u : 0u);
        EXPECT_TRUE(fresh ? used.rfind(folder + L".", 0) == 0 && !Exists(used + L"\\kvinstaller_1.tmp")
                          : Exists(folder + L"\\kvinstaller_1.tmp") != g_volumeKeeps);
        EXPECT_FALSE(Exists(used + L"\\kvinstaller_1.tmp.ranges") || Exists(used + L"\\dirlink"));
        staging.Release();
        EXPECT_EQ(Exists(used), !fresh);
        EXPECT_EQ(ReadFileBytes(std::wstring(_wgetenv(L"KV_LINK_TARGET")) + L"\\keep.txt"), "keep\n");
    }
    g_volumeKeeps = true;
}
