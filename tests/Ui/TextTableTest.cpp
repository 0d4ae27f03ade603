#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "Ui/LanguageChoice.h"
#include "Ui/SkinPackage.h"
#include "Ui/TextTable.h"
#include "Ui/UiTexts.h"

namespace {

std::set<std::wstring> Placeholders(const std::wstring& text) {
    std::set<std::wstring> found;
    const std::wregex pattern(L"\\{[1-9]\\}");
    for (std::wsregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) found.insert(it->str());
    return found;
}

const CTextTable* TableNamed(const wchar_t* language) {
    for (const CTextTable& t : CUiTexts::Instance().Tables()) {
        if (t.Language() == language) return &t;
    }
    return nullptr;
}

}  // namespace

// The system's UI language id, through its locale name, to the table that
// serves it: never Simplified for a Traditional name, English for every
// other named language, Simplified for an id without a name.
TEST(LanguageChoice, EveryKindOfUiLanguageGetsItsTable) {
    const std::vector<CTextTable>& tables = CUiTexts::Instance().Tables();
    ASSERT_GE(tables.size(), 3u);
    const struct {
        LANGID id;
        const wchar_t* table;
    } ids[] = {
        {0x0804, L"zh-CN"}, {0x1004, L"zh-CN"}, {0x0004, L"zh-CN"},  // zh-CN, zh-SG, zh-Hans
        {0x0404, L"zh-TW"}, {0x0C04, L"zh-TW"}, {0x1404, L"zh-TW"},  // zh-TW, zh-HK, zh-MO
        {0x7C04, L"zh-TW"},                                           // zh-Hant
        {0x0409, L"en"},    {0x0809, L"en"},    {0x0407, L"en"},      // en-US, en-GB, de-DE
        {0x0411, L"en"},    {0x00FF, L"zh-CN"},                       // ja-JP, an id with no name
    };
    for (const auto& c : ids) {
        const std::wstring name = CLanguageChoice::NameOf(c.id);
        const int chosen = CLanguageChoice::Choose(tables, name);
        ASSERT_GE(chosen, 0);
        EXPECT_EQ(tables[static_cast<size_t>(chosen)].Language(), c.table) << std::hex << c.id << " " << name;
    }
    // Names as a system may give them beyond the ids above.
    const struct {
        const wchar_t* name;
        const wchar_t* table;
    } names[] = {{L"zh-Hant-TW", L"zh-TW"}, {L"zh-Hans-HK", L"zh-CN"}, {L"ZH-hk", L"zh-TW"},
                 {L"zh", L"zh-CN"},         {L"en", L"en"},            {L"xx-YY", L"en"},
                 {L"", L"zh-CN"}};
    for (const auto& c : names) {
        EXPECT_EQ(tables[static_cast<size_t>(CLanguageChoice::Choose(tables, c.name))].Language(), c.table) << c.name;
    }
    EXPECT_EQ(CLanguageChoice::Find(tables, L"ZH-tw"), CLanguageChoice::Choose(tables, L"zh-TW"));
    EXPECT_EQ(CLanguageChoice::Find(tables, L"fr"), -1);
}

// Every table has exactly the default table's keys, with the same values
// to fill in, and every key the skins name.
TEST(TextTable, EveryKeyInEveryLanguage) {
    CUiTexts& texts = CUiTexts::Instance();
    const CTextTable* simplified = TableNamed(L"zh-CN");
    ASSERT_NE(simplified, nullptr);
    EXPECT_EQ(texts.LogText(L"window.title"), L"安装KorvelQixar");
    for (const CTextTable& table : texts.Tables()) {
        for (const auto& [key, text] : simplified->Texts()) {
            const std::wstring* translated = table.Find(key);
            EXPECT_NE(translated, nullptr) << table.Language() << " lacks " << key;
            if (translated) {
                EXPECT_EQ(Placeholders(*translated), Placeholders(text)) << table.Language() << " " << key;
            }
        }
        for (const auto& entry : table.Texts()) {
            EXPECT_NE(simplified->Find(entry.first), nullptr) << table.Language() << " has unknown " << entry.first;
        }
    }
    for (const wchar_t* skin : {L"InstallPackages.xml", L"MessageBox.xml", L"ProxyLogin.xml"}) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(CSkinPackage::Instance().ReadFile(skin, bytes));
        const std::string markup(bytes.begin(), bytes.end());
        const std::regex named("=\"@([a-z0-9.]+)\"");
        int keys = 0;
        for (std::sregex_iterator it(markup.begin(), markup.end(), named), end; it != end; ++it, ++keys) {
            const std::string name = it->str(1);
            const std::wstring key(name.begin(), name.end());
            for (const CTextTable& table : texts.Tables()) {
                EXPECT_NE(table.Find(key), nullptr) << table.Language() << " " << key;
            }
        }
        EXPECT_GT(keys, 5) << skin;
    }
}

TEST(TextTable, DamagedTablesAreRefusedAndValuesFilledSafely) {
    const struct {
        const char* markup;
        bool ok;
    } cases[] = {
        {"<Texts lang='x'><T k='a'>A</T></Texts>", true},
        {"<Texts><T k='a'>A</T></Texts>", false},                     // no language
        {"<Texts lang='x'><T k='a'>A</T><T k='a'>B</T></Texts>", false},  // a key twice
        {"<Texts lang='x'><T>A</T></Texts>", false},                  // no key
        {"<Texts lang='x'><T k='a'>A</T>", false},                    // not XML
    };
    for (const auto& c : cases) {
        CTextTable table;
        EXPECT_EQ(table.Parse(reinterpret_cast<const uint8_t*>(c.markup), strlen(c.markup)), c.ok) << c.markup;
    }
    // A translation naming more values than the code gives keeps the rest as written.
    EXPECT_EQ(CUiTexts::Substitute(L"{1}:{2}:{3}{", {L"a", L"b"}), L"a:b:{3}{");
}
