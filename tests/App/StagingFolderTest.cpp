// The staging folder with real files and folders under a temporary parent
// and only the reading of owners and access lists faked (Wine keeps none):
// an object carrying a mark ("(user)" in its name or, for the folder, a
// mark file inside) reads back as a standard user's; anything else as
// admin-only where the volume keeps descriptors, and as nobody's where not.
#include <gtest/gtest.h>

#include <cstdlib>

#include "App/StagingFolder.h"
#include "Runtime/FileSystem.h"
#include "support/Files.h"
#include "support/LogCapture.h"

namespace {

bool g_volumeKeeps = true;

bool Marked(HANDLE object, const wchar_t* mark) {
    const std::wstring path = FinalPathOf(object);
    return path.find(L"(user)") != std::wstring::npos || Exists(path + L"\\" + mark);
}
bool FakeAdminOnly(HANDLE object, SE_OBJECT_TYPE, bool ownerOnly) {
    return g_volumeKeeps && !Marked(object, L"owner-user") && (ownerOnly || !Marked(object, L"admits-users"));
}

std::wstring Env(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value ? value : L"";
}

}  // namespace

// A foreign folder is made again empty; an own one, or any on a volume that
// keeps no descriptors, is kept with its plain single-name files, of which
// only administrators' resume where owners are kept.
TEST(StagingFolder, AForeignFolderIsMadeAgainAndOnlyPlainOwnFilesResume) {
    const struct {
        const wchar_t* mark;  // in the existing folder, nullptr: none
        bool volumeKeeps;
        bool remade;
    } cases[] = {
        {L"", true, false},               // the installer's own
        {L"owner-user", true, true},      // owned by a standard user
        {L"admits-users", true, true},    // its access list lets Users in
        {L"owner-user", false, false},    // the volume keeps no descriptor: kept with its files
        {nullptr, true, false},           // missing: made
        {nullptr, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        TempDir parent;
        const std::wstring folder = parent.File(L"KorvelQixarInstaller");
        if (c.mark) {
            ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
            if (*c.mark) WriteText(folder + L"\\" + c.mark, "");
            WriteText(folder + L"\\kvinstaller_1.tmp", "partial");
            WriteText(folder + L"\\kvinstaller_1.tmp.ranges(user)", "ranges");
            WriteText(folder + L"\\kvinstall.ini", "two names");
            ASSERT_TRUE(::CreateHardLinkW(parent.File(L"elsewhere.ini").c_str(), (folder + L"\\kvinstall.ini").c_str(), nullptr));
        }
        g_volumeKeeps = c.volumeKeeps;
        LogCapture log;
        CStagingFolder staging(FakeAdminOnly);
        ASSERT_TRUE(staging.Prepare(parent.Path())) << log.Text();
        EXPECT_EQ(staging.Path(), folder);
        const bool kept = c.mark && !c.remade;
        EXPECT_EQ(Exists(folder + L"\\kvinstaller_1.tmp"), kept);
        EXPECT_EQ(Exists(folder + L"\\kvinstaller_1.tmp.ranges(user)"), kept && !c.volumeKeeps);
        EXPECT_FALSE(Exists(folder + L"\\kvinstall.ini"));
        EXPECT_EQ(ReadFileBytes(parent.File(L"elsewhere.ini")), c.mark ? "two names" : "");
        EXPECT_EQ(log.Count(L"foreign, made again"), c.remade ? 1u : 0u);
        EXPECT_EQ(log.Count(L"no access lists kept"), c.volumeKeeps ? 0u : 1u);
        // Made again, the folder reads back admin-only; the probe is gone.
        EXPECT_EQ(FakeAdminOnly(HoldFolder(folder).get(), SE_FILE_OBJECT, false), c.volumeKeeps);
        std::wstring names;
        WIN32_FIND_DATAW found;
        const kv::UniqueFind find(::FindFirstFileW(parent.File(L"K*").c_str(), &found));
        if (find) do names += found.cFileName; while (::FindNextFileW(find.get(), &found));
        EXPECT_EQ(names, L"KorvelQixarInstaller");
        staging.Release();
    }
    g_volumeKeeps = true;
}

// Links made on the host (with-host-fixtures.sh): the staging folder as a
// link, and links inside a kept folder, go themselves, their targets
// untouched; where the system follows such a link all the same (Wine), it
// cannot go and the folder is refused.
TEST(HostFixture, LinksAtTheStagingFolderAreRemovedNotFollowed) {
    const std::wstring linked = Env(L"KV_STAGING_LINKED"), holding = Env(L"KV_STAGING_HOLDING");
    const std::wstring outside = Env(L"KV_LINK_TARGET");
    if (linked.empty() || holding.empty()) GTEST_SKIP() << "run through with-host-fixtures.sh";
    for (const std::wstring& parent : {linked, holding}) {
        g_volumeKeeps = parent == linked;  // else as under Wine: the plain partial file stays
        LogCapture log;
        CStagingFolder staging(FakeAdminOnly);
        const std::wstring folder = parent + L"\\KorvelQixarInstaller";
        if (staging.Prepare(parent)) {
            EXPECT_EQ(::GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
            EXPECT_EQ(Exists(folder + L"\\kvinstaller_1.tmp"), parent == holding);
            EXPECT_FALSE(Exists(folder + L"\\kvinstaller_1.tmp.ranges"));
        } else {
            EXPECT_EQ(log.Count(L": unusable ("), 1u) << log.Text();
        }
        EXPECT_EQ(ReadFileBytes(outside + L"\\keep.txt"), "keep\n");
    }
    g_volumeKeeps = true;
}
