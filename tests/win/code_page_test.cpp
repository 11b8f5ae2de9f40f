// The code page that this run is for, and which of the test names it spells: the names in every
// script go in as UTF-16 whatever it spells.
#include <gtest/gtest.h>

#include <set>

#include "replace/replace.h"
#include "tests/win/win_fixture.h"

// A prefix that silently ran another code page would test the names of that one.
TEST(CodePage, IsTheOneThisRunIsFor) { EXPECT_EQ(GetACP(), expected_code_page()); }

// The names of the script tests, spelt by the code page that has their letters: each run gives
// the ANSI command line the names it can type.
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

// Every path goes to the wide file functions in the \\?\ form, made once from a full path;
// Wine opens long paths without it too, so only this shows that it is made right.
TEST(ExtendedPath, IsTheFullPathBehindThePrefixThatTakesAnyLength) {
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\windows"));
    EXPECT_EQ(extended_path(L"C:\\photos\\a.jpg"), L"\\\\?\\C:\\photos\\a.jpg");
    EXPECT_EQ(extended_path(L"\\\\server\\share\\a.jpg"), L"\\\\?\\UNC\\server\\share\\a.jpg");
    EXPECT_EQ(extended_path(L"./system32/../photos/./a.jpg"), L"\\\\?\\C:\\windows\\photos\\a.jpg");
    EXPECT_EQ(extended_path(L"photos\\..\\..\\a.jpg"), L"\\\\?\\C:\\a.jpg");
    EXPECT_EQ(extended_path(L"\\\\?\\C:\\photos\\a.jpg"), L"\\\\?\\C:\\photos\\a.jpg");
    std::wstring deep = L"C:\\" + std::wstring(1000, L'x');
    EXPECT_EQ(extended_path(deep), L"\\\\?\\" + deep);
    EXPECT_EQ(extended_path(L""), L"");
    EXPECT_EQ(joined(L"\\\\?\\C:\\", L"a.jpg"), L"\\\\?\\C:\\a.jpg");
    EXPECT_EQ(joined(L"\\\\?\\C:\\photos", L"a.jpg"), L"\\\\?\\C:\\photos\\a.jpg");
}
