// Names spelt in a code page: the flags that Windows takes for each, UTF-8 and Shift-JIS
// spellings, the buffer limit in bytes, and the code page that this run is for.
#include <gtest/gtest.h>

#include <set>

#include "batch/batch.h"
#include "tests/win/win_fixture.h"

// A prefix that silently ran another code page would test the names of that one.
TEST(CodePage, IsTheOneThisRunIsFor) { EXPECT_EQ(GetACP(), expected_code_page()); }

// Windows fails a conversion to these with ERROR_INVALID_FLAGS for any flag but
// WC_ERR_INVALID_CHARS (taken by UTF-8 and GB18030 only). Wine takes any, so only the flags
// show it: under such a code page every name would be refused and nothing cleaned.
TEST(CodePage, NarrowsWithFlagsThatWindowsTakesForTheUnicodeCodePages) {
    for (UINT code_page : {65001u, 54936u})
        EXPECT_EQ(narrowing_flags(code_page) & ~DWORD(WC_ERR_INVALID_CHARS), 0u) << code_page;
    std::vector<UINT> no_flags = {42, 50220, 50221, 50222, 50225, 50227, 50229, 65000};
    for (UINT iscii = 57002; iscii <= 57011; iscii++) no_flags.push_back(iscii);
    for (UINT code_page : no_flags) EXPECT_EQ(narrowing_flags(code_page), 0u) << code_page;
}

static std::string spelling(UINT code_page, const std::wstring& name) {
    char spelt[path_size];
    return spell_in(code_page, name.c_str(), spelt) ? std::string(spelt) : std::string("(refused)");
}

TEST(CodePage, Utf8SpellsEveryScript) {
    EXPECT_EQ(spelling(65001, L"\u0444\u043e\u0442\u043e.jpg"), "\xd1\x84\xd0\xbe\xd1\x82\xd0\xbe.jpg");  // фото
    EXPECT_EQ(spelling(65001, L"\U0001F600.png"), "\xf0\x9f\x98\x80.png");                           // 😀
    EXPECT_EQ(spelling(65001, L"\u0141\u00f3d\u017a"), "\xc5\x81\xc3\xb3" "d" "\xc5\xba");          // Łódź
    EXPECT_EQ(spelling(65001, L"\uc0ac\uc9c4"), "\xec\x82\xac\xec\xa7\x84");                        // 사진
}

TEST(CodePage, Code1252SpellsItsOwnLettersAndNoBestFits) {
    EXPECT_EQ(spelling(1252, L"caf\u00e9.jpg"), "caf\xe9.jpg");
    EXPECT_EQ(spelling(1252, L"\u0444\u043e\u0442\u043e.jpg"), "(refused)");
    EXPECT_EQ(spelling(1252, L"\U0001F600.png"), "(refused)");
    EXPECT_EQ(spelling(1252, L"\u0141\u00f3d\u017a"), "(refused)");  // not "Lodz"
}

TEST(CodePage, ShiftJisSpellsTrailBytesThatLookLikeBackslashes) {
    EXPECT_EQ(spelling(932, L"\u8868\u30bd\u80fd.png"), "\x95\x5c\x83\x5c\x94\x5c.png");  // 表ソ能
    EXPECT_EQ(spelling(932, L"\u0444\u043e\u0442\u043e"), "\x84\x86\x84\x80\x84\x84\x84\x80");
    EXPECT_EQ(spelling(932, L"\uc0ac\uc9c4"), "(refused)");
    EXPECT_EQ(spelling(932, L"caf\u00e9"), "(refused)");
}

// 86 letters of three bytes each and the terminator fill a path buffer; one more overflows it.
TEST(CodePage, CountsUtf8BytesAgainstThePathBuffer) {
    EXPECT_EQ(spelling(65001, std::wstring(86, L'\u5199')).size(), 258u);
    EXPECT_EQ(spelling(65001, std::wstring(87, L'\u5199')), "(refused)");
    EXPECT_EQ(spelling(932, std::wstring(87, L'\u5199')).size(), 174u);
}

// Without WC_ERR_INVALID_CHARS it becomes U+FFFD, which the round trip tells apart.
TEST(CodePage, Utf8RefusesAnUnpairedSurrogate) {
    EXPECT_EQ(spelling(65001, std::wstring(1, wchar_t(0xD800)) + L".png"), "(refused)");
}

// The names of the script tests, spelt by the code page that has their letters: each run takes
// the way in it is for, by the name itself or by the short name.
TEST(CodePage, SpellsTheTestNamesItHasLettersFor) {
    ASSERT_EQ(GetACP(), expected_code_page());
    std::vector<ScriptName> names = names_in_scripts("");
    std::set<std::wstring> spelt, expected;
    for (const ScriptName& name : names)
        if (!name.ansi.empty()) spelt.insert(name.name);
    if (GetACP() == 1252) expected = {L"plain", L"caf\u00e9"};
    if (GetACP() == 932)
        expected = {L"plain", L"\u0444\u043e\u0442\u043e", L"\u0395\u0399\u039a\u039f\u039d\u0391", L"\u5199\u771f",
                    L"\u8868\u30bd\u80fd", std::wstring(80, L'\u5199')};
    if (GetACP() == 65001)
        for (const ScriptName& name : names) expected.insert(name.name);
    EXPECT_EQ(spelt, expected);
}
