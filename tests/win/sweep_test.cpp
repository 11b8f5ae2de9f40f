// The folder sweep: pattern order, subfolders, long names, and the stop between files.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "batch/batch.h"
#include "tests/win/win_fixture.h"

namespace fs = std::filesystem;

class Sweep : public ::testing::Test {
protected:
    void SetUp() override {
        folder = scratch_folder();
        use_temp_folder(folder);
        start_recording();
        target_count = 0;
        changed_count = 0;
    }
    void TearDown() override {
        stop_recording();
        end_batch();  // the batch's end, as the command line and a drop take it
        EXPECT_FALSE(fs::exists(folder / "xtmp_7x91x4vnq.xxxx"));
        fs::remove_all(folder);
    }
    fs::path image(const std::string& name, const Bytes& bytes = png_with_phys()) {
        write_file(folder / name, bytes);
        return folder / name;
    }
    bool cleaned(const std::string& name) { return read_file(folder / name) == png_without_phys(); }
    // The files in the order the sweep handed them to clean_file.
    std::vector<std::string> sweep() {
        snprintf(folder_path, sizeof folder_path, "%s", folder.string().c_str());
        sweep_folder();
        return cleaned_order();
    }
    fs::path folder;
};

TEST_F(Sweep, TakesJpgThenJpegThenPngThenPsd) {
    image("d.psd");
    image("b.png");
    image("c.jpeg");
    image("a.jpg");
    image("notes.txt");
    EXPECT_EQ(sweep(), (std::vector<std::string>{"a.jpg", "c.jpeg", "b.png", "d.psd"}));
    EXPECT_EQ(target_count, 4);
    EXPECT_EQ(changed_count, 4);
    EXPECT_FALSE(cleaned("notes.txt"));
}

TEST_F(Sweep, MatchesNamesWithoutRegardToCaseAndJudgesFilesByContent) {
    image("PHOTO.JPG");
    std::vector<std::string> order = sweep();
    EXPECT_EQ(order, std::vector<std::string>{"PHOTO.JPG"});
    EXPECT_TRUE(cleaned("PHOTO.JPG"));  // a PNG under a JPEG name is cleaned as PNG
}

TEST_F(Sweep, PassesOverSubfolders) {
    fs::create_directory(folder / "old.jpg");
    write_file(folder / "old.jpg" / "inner.png", png_with_phys());
    image("a.png");
    EXPECT_EQ(sweep(), std::vector<std::string>{"a.png"});
    EXPECT_EQ(read_file(folder / "old.jpg" / "inner.png"), png_with_phys());
}

TEST_F(Sweep, CleansAFileWithALongNameUnderItsFullName) {
    std::string name = std::string(70, 'n') + ".png";
    image(name);
    EXPECT_EQ(sweep(), std::vector<std::string>{name});
    EXPECT_TRUE(cleaned(name));
}

TEST_F(Sweep, StopsBeforeTheFileOnScreenAndSkipsTheRemainingPatterns) {
    image("a.jpg");
    image("c.jpeg");
    image("b.png");
    image("d.psd");
    at_message(3, [] { abort_requested = 1; });
    sweep();
    EXPECT_TRUE(cleaned("a.jpg"));
    EXPECT_TRUE(cleaned("c.jpeg"));
    EXPECT_FALSE(cleaned("b.png"));
    EXPECT_FALSE(cleaned("d.psd"));
    EXPECT_EQ(cleaned_order().size(), 2u);
}

TEST_F(Sweep, StartsAfreshAfterAStop) {
    image("a.png");
    abort_requested = 1;
    sweep();
    EXPECT_TRUE(cleaned("a.png"));
}

TEST_F(Sweep, FindsNothingInAMissingOrEmptyFolderName) {
    image("a.png");
    folder_path[0] = '\0';
    SetCurrentDirectoryA(folder.string().c_str());
    sweep_folder();
    snprintf(folder_path, sizeof folder_path, "%s", (folder / "missing").string().c_str());
    sweep_folder();
    SetCurrentDirectoryA("C:\\");
    EXPECT_FALSE(cleaned("a.png"));
    EXPECT_EQ(target_count, 0);
}

// A long name whose path would overflow a path buffer goes in by its short name: a folder of
// 230 bytes leaves room for its 12 bytes, not for the 44 of the name.
TEST_F(Sweep, CleansAFileWhoseLongNameWouldOverflowAPathBufferUnderItsShortName) {
    fs::path deep = folder;
    while (deep.string().size() < 230) deep /= "deeper";
    fs::create_directories(deep);
    ScriptName name = {std::wstring(40, L'x') + L".png", std::string(40, 'x') + ".png"};
    write_dated(deep / name.name, png_with_phys());
    std::string short_name = working_name(deep, name);
    ASSERT_LT(short_name.size(), name.ansi.size());
    snprintf(folder_path, sizeof folder_path, "%s", deep.string().c_str());
    sweep_folder();
    EXPECT_EQ(cleaned_order(), std::vector<std::string>{short_name});
    EXPECT_EQ(read_file(deep / name.name), png_without_phys());
    EXPECT_TRUE(date_kept(deep / name.name));
}

// A folder of 250 bytes still holds the search patterns but not even a short name.
TEST_F(Sweep, SkipsAFileWhosePathWouldNotFitAPathBuffer) {
    fs::path deep = folder;
    while (deep.string().size() < 240) deep /= "deeper";
    deep /= std::string(250 - deep.string().size() - 1, 'd');
    fs::create_directories(deep);
    ASSERT_EQ(deep.string().size(), 250u);
    std::string name = std::string(40, 'x') + ".png";
    write_file(deep / name, png_with_phys());
    snprintf(folder_path, sizeof folder_path, "%s", deep.string().c_str());
    sweep_folder();
    EXPECT_EQ(read_file(deep / name), png_with_phys());
    EXPECT_EQ(target_count, 0);
}

TEST_F(Sweep, CleansNamesInAnyScriptUnderNamesOfTheCodePage) {
    ASSERT_EQ(GetACP(), expected_code_page());
    std::vector<std::string> expected;
    for (const ScriptName& name : names_in_scripts(".png")) {
        write_dated(folder / name.name, png_with_phys());
        expected.push_back(working_name(folder, name));
    }
    std::vector<std::string> order = sweep();
    std::sort(order.begin(), order.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(order, expected);
    EXPECT_EQ(target_count, int(expected.size()));
    EXPECT_EQ(changed_count, int(expected.size()));
    for (const ScriptName& name : names_in_scripts(".png")) {
        EXPECT_EQ(read_file(folder / name.name), png_without_phys());
        EXPECT_TRUE(date_kept(folder / name.name));
    }
}
