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
        remove_tree(folder);
    }
    fs::path image(const std::string& name, const Bytes& bytes = png_with_phys()) {
        write_file(folder / name, bytes);
        return folder / name;
    }
    bool cleaned(const std::string& name) { return read_file(folder / name) == png_without_phys(); }
    // The files in the order the sweep handed them to clean_file, once the batch has ended.
    std::vector<std::string> sweep() {
        folder_path = extended_path(folder.wstring());
        sweep_folder();
        close_batch();
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
    folder_path.clear();
    SetCurrentDirectoryW(folder.c_str());
    sweep_folder();
    folder_path = extended_path((folder / "missing").wstring());
    sweep_folder();
    SetCurrentDirectoryA("C:\\");
    EXPECT_FALSE(cleaned("a.png"));
    EXPECT_EQ(target_count, 0);
}

// Paths past the old limit of 259 characters go in by their full names: no drive needs short names.
TEST_F(Sweep, CleansFilesWhosePathsPassTheOldLimitUnderTheirFullNames) {
    std::string name = std::string(40, 'x') + ".png";
    for (const fs::path& deep : deep_folders(folder)) {
        write_dated(deep / name, png_with_phys());
        folder_path = extended_path(deep.wstring());
        sweep_folder();
        close_batch();
        EXPECT_EQ(cleaned_order().back(), name);
        EXPECT_EQ(read_file(deep / name), png_without_phys()) << deep.wstring().size();
        EXPECT_TRUE(date_kept(deep / name));
    }
    EXPECT_EQ(target_count, 2);
}

TEST_F(Sweep, CleansNamesInAnyScriptWhateverTheCodePageSpells) {
    ASSERT_EQ(GetACP(), expected_code_page());
    std::vector<std::string> expected;
    for (const ScriptName& name : names_in_scripts(".png")) {
        write_dated(folder / name.name, png_with_phys());
        expected.push_back(utf8(name.name));
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
