// Cleaning a file in place under the faults a user's folder can hold: the source ends either
// exactly as it was or as the complete reduced copy, and no temporary file stays behind.
#include <gtest/gtest.h>
#include <windows.h>

#include "tests/core/fixture.h"

namespace fs = std::filesystem;

namespace {

// Signature, pHYs (9 data bytes), IEND: cleaning drops the pHYs chunk.
Bytes png_with_phys() {
    Bytes sig = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes phys = be32(9) + text_bytes("pHYs") + filled(9, 1) + be32(0x12345678);
    Bytes iend = be32(0) + text_bytes("IEND") + be32(0xAE426082);
    return sig + phys + iend;
}

struct Scene {
    fs::path folder;
    fs::path source;
    fs::path temp;
};

// A source in a fresh folder, with the temporary file beside it, ready for clean_file.
Scene scene_with(const Bytes& bytes) {
    Scene scene{scratch_folder(), {}, {}};
    scene.source = scene.folder / "photo.png";
    scene.temp = scene.folder / "xtmp_7x91x4vnq.xxxx";
    write_file(scene.source, bytes);
    snprintf(source_path, sizeof source_path, "%s", scene.source.string().c_str());
    snprintf(temp_path, sizeof temp_path, "%s", scene.temp.string().c_str());
    target_count = 0;
    changed_count = 0;
    return scene;
}

void set_attributes(const fs::path& path, DWORD attributes) {
    SetFileAttributesA(path.string().c_str(), attributes);
}

void remove_scene(const Scene& scene) {
    for (const auto& entry : fs::directory_iterator(scene.folder))
        set_attributes(entry.path(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(scene.folder);
}

}  // namespace

TEST(CleanFile, ReplacesTheSourceWithTheCompleteCopy) {
    Bytes source = png_with_phys();
    Reduced expected = reduce(source);
    ASSERT_EQ(expected.result, complete_copy);
    Scene scene = scene_with(source);
    clean_file();
    EXPECT_EQ(read_file(scene.source), expected.copy);
    EXPECT_EQ(changed_count, 1);
    EXPECT_FALSE(fs::exists(scene.temp));
    remove_scene(scene);
}

TEST(CleanFile, ReadOnlySourceStaysAsItWas) {
    Scene scene = scene_with(png_with_phys());
    set_attributes(scene.source, FILE_ATTRIBUTE_READONLY);
    clean_file();
    EXPECT_EQ(read_file(scene.source), png_with_phys());
    EXPECT_EQ(target_count, 1);
    EXPECT_EQ(changed_count, 0);
    EXPECT_FALSE(fs::exists(scene.temp));
    EXPECT_EQ(std::distance(fs::directory_iterator(scene.folder), fs::directory_iterator()), 1);
    remove_scene(scene);
}

TEST(CleanFile, HiddenSourceStaysAsItWas) {
    Scene scene = scene_with(png_with_phys());
    set_attributes(scene.source, FILE_ATTRIBUTE_HIDDEN);
    clean_file();
    EXPECT_EQ(read_file(scene.source), png_with_phys());
    EXPECT_EQ(changed_count, 0);
    EXPECT_FALSE(fs::exists(scene.temp));
    EXPECT_EQ(std::distance(fs::directory_iterator(scene.folder), fs::directory_iterator()), 1);
    remove_scene(scene);
}

TEST(CleanFile, SourceHeldOpenIsSkipped) {
    Scene scene = scene_with(png_with_phys());
    HANDLE held = CreateFileA(source_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    clean_file();
    CloseHandle(held);
    EXPECT_EQ(read_file(scene.source), png_with_phys());
    EXPECT_EQ(target_count, 0);
    EXPECT_FALSE(fs::exists(scene.temp));
    remove_scene(scene);
}

// Where the system lets the filter write over it, the copy of this run replaces the source;
// the stale bytes never do.
TEST(CleanFile, StaleReadOnlyTemporaryFileIsNeverCopied) {
    Bytes source = png_with_phys();
    Reduced expected = reduce(source);
    Scene scene = scene_with(source);
    Bytes stale = text_bytes("left behind by an earlier run");
    write_file(scene.temp, stale);
    set_attributes(scene.temp, FILE_ATTRIBUTE_READONLY);
    clean_file();
    Bytes after = read_file(scene.source);
    EXPECT_TRUE(after == source || after == expected.copy);
    EXPECT_NE(after, stale);
    remove_scene(scene);
}

TEST(CleanFile, StaleTemporaryFileHeldOpenIsNeverCopied) {
    Scene scene = scene_with(png_with_phys());
    Bytes stale = text_bytes("left behind by an earlier run");
    write_file(scene.temp, stale);
    HANDLE held = CreateFileA(temp_path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    clean_file();
    CloseHandle(held);
    EXPECT_EQ(read_file(scene.source), png_with_phys());
    EXPECT_EQ(target_count, 1);
    EXPECT_EQ(changed_count, 0);
    EXPECT_EQ(read_file(scene.temp), stale);
    remove_scene(scene);
}

TEST(CleanFile, SourceGoneBeforeCleaningLeavesNothing) {
    Scene scene = scene_with(png_with_phys());
    fs::remove(scene.source);
    clean_file();
    EXPECT_FALSE(fs::exists(scene.source));
    EXPECT_FALSE(fs::exists(scene.temp));
    EXPECT_EQ(target_count, 0);
    remove_scene(scene);
}

TEST(CleanFile, KeepsTheFileTimes) {
    Scene scene = scene_with(png_with_phys());
    HANDLE file = CreateFileA(source_path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME created{0x12345600, 0x01D00000}, written{0x65432100, 0x01D10000};
    SetFileTime(file, &created, nullptr, &written);
    CloseHandle(file);
    clean_file();
    WIN32_FILE_ATTRIBUTE_DATA after;
    ASSERT_TRUE(GetFileAttributesExA(source_path, GetFileExInfoStandard, &after));
    EXPECT_EQ(CompareFileTime(&after.ftLastWriteTime, &written), 0);
    EXPECT_EQ(changed_count, 1);
    remove_scene(scene);
}

// Inputs that once broke a promise of cleaning, one file per defect, named after it: cleaned
// in place, each ends as it was or as the complete copy that the portable core gives.
class CleanRegression : public testing::TestWithParam<std::string> {};

TEST_P(CleanRegression, EndsAsItWasOrAsTheCompleteCopy) {
    Bytes source = read_file(fs::path(REGRESSION_DIR) / GetParam());
    Reduced reduced = reduce(source);
    Scene scene = scene_with(source);
    clean_file();
    Bytes after = read_file(scene.source);
    if (reduced.result == complete_copy && reduced.copy.size() != source.size()) EXPECT_EQ(after, reduced.copy);
    else EXPECT_EQ(after, source);
    EXPECT_FALSE(fs::exists(scene.temp));
    remove_scene(scene);
}

static std::vector<std::string> regression_files() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(REGRESSION_DIR)) names.push_back(entry.path().filename().string());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Defects, CleanRegression, testing::ValuesIn(regression_files()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });
