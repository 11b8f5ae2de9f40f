// The code page that this run is for, and which of the test names it spells: the names in every
// script go in as UTF-16 whatever it spells.
#include <gtest/gtest.h>

#include <set>

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
