// Inputs that once broke a promise of the filters, one file per defect, named after it.
#include <gtest/gtest.h>

#include "tests/core/fixture.h"

namespace fs = std::filesystem;

class FilterRegression : public testing::TestWithParam<std::string> {};

// A complete copy cleans to itself.
TEST_P(FilterRegression, CopyCleansToItselfOrNothingIsLeft) {
    Bytes source = read_file(fs::path(REGRESSION_DIR) / GetParam());
    ASSERT_FALSE(source.empty());
    Reduced first = reduce(source);
    if (first.result != complete_copy) return;
    EXPECT_LE(first.copy.size(), source.size());
    Reduced again = reduce(first.copy);
    EXPECT_EQ(again.result, complete_copy);
    EXPECT_EQ(again.copy, first.copy);
}

INSTANTIATE_TEST_SUITE_P(Defects, FilterRegression, testing::ValuesIn(regression_files()), regression_name);
