// brinq.exe run with arguments: every argument cleaned in order, no output, nothing else touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "app/app.h"
#include "replace/replace.h"
#include "tests/win/win_fixture.h"

namespace fs = std::filesystem;

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { folder = scratch_folder(); }
    void TearDown() override { remove_tree(folder); }
    std::string image(const fs::path& path, const Bytes& bytes = png_with_phys()) {
        fs::create_directories(path.parent_path());
        write_file(path, bytes);
        return path.string();
    }
    bool temp_left(const fs::path& exe_folder) { return fs::exists(exe_folder / "xtmp_7x91x4vnq.xxxx"); }
    fs::path folder;
};

// The user's own temporary folder.
static fs::path user_temp_folder() {
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    return path;
}

// What the program could leave in a folder: its temporary file, its journal, its probe files.
static std::vector<fs::path> leftovers(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("xtmp_7x91x4vnq", 0) == 0 || name.rfind("xtp", 0) == 0) found.push_back(entry.path());
    }
    return found;
}

TEST_F(CommandLine, SweepsAFolderAndCleansAFileEachOnce) {
    image(folder / "photos" / "a.png");
    image(folder / "photos" / "old.png" / "inner.png");
    std::string file = image(folder / "loose" / "b.jpg", exif_jpeg());
    EXPECT_EQ(run_brinq(folder, {(folder / "photos").string(), file}), 0u);
    EXPECT_EQ(read_file(folder / "photos" / "a.png"), png_without_phys());
    EXPECT_EQ(read_file(folder / "photos" / "old.png" / "inner.png"), png_with_phys());
    EXPECT_EQ(read_file(file).size(), exif_jpeg().size() - 40 + 18);
    EXPECT_FALSE(temp_left(folder));
}

TEST_F(CommandLine, GoesOnPastArgumentsThatNameNothingOrTooMuch) {
    std::string file = image(folder / "a.png");
    std::string too_long = "C:\\" + std::string(300, 'x') + ".png";
    EXPECT_EQ(run_brinq(folder, {(folder / "missing.png").string(), too_long, "", file}), 0u);
    EXPECT_EQ(read_file(file), png_without_phys());
}

TEST_F(CommandLine, AnEmptyArgumentSweepsNoFolder) {
    image(folder / "here.png");  // brinq.exe runs in this folder
    EXPECT_EQ(run_brinq(folder, {""}), 0u);
    EXPECT_EQ(read_file(folder / "here.png"), png_with_phys());
}

// The folder with its backslash leaves fewer than 19 characters of the old 259 for the
// temporary name: the \\?\ form takes it.
TEST_F(CommandLine, CleansFromAProgramFolderWhereTheTemporaryFilesPathPassesTheOldLimit) {
    std::string file = image(folder / "a.png");
    fs::path deep = folder;
    while (deep.string().size() < 242) deep /= "d";
    fs::create_directories(deep);
    ASSERT_GT((deep / "xtmp_7x91x4vnq.xxxx").string().size(), size_t(MAX_PATH - 1));
    EXPECT_EQ(run_brinq(deep, {file}), 0u);
    ASSERT_TRUE(fs::exists(deep / "brinq.exe"));
    EXPECT_EQ(read_file(file), png_without_phys());
    EXPECT_TRUE(leftovers(user_temp_folder()).empty());
    EXPECT_TRUE(leftovers(deep).empty());
}

// Under code page 1252 GetModuleFileNameA spells these folders with question marks.
TEST_F(CommandLine, CleansFromAProgramFolderNamedInAScriptTheCodePageCannotSpell) {
    for (const wchar_t* name : {L"\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b", L"\u7a0b\u5e8f"}) {  // Программы, 程序
        fs::path bin = folder / name, photo = folder / "photo.jpg";
        fs::create_directories(bin);
        write_dated(photo, exif_jpeg());
        EXPECT_EQ(run_brinq_wide(bin, {photo.wstring()}), 0u);
        EXPECT_EQ(read_file(photo), reduced_copy(exif_jpeg()));
        EXPECT_TRUE(date_kept(photo));
        EXPECT_TRUE(leftovers(bin).empty());
        EXPECT_TRUE(leftovers(user_temp_folder()).empty());
    }
}

TEST_F(CommandLine, CleansFilesNamedInAnyScript) {
    ASSERT_EQ(GetACP(), expected_code_page());
    std::vector<std::wstring> arguments;
    for (const ScriptName& name : names_in_scripts(".jpg")) {
        write_dated(folder / name.name, exif_jpeg());
        arguments.push_back((folder / name.name).wstring());
    }
    EXPECT_EQ(run_brinq_wide(folder, arguments), 0u);
    for (const ScriptName& name : names_in_scripts(".jpg")) {
        EXPECT_EQ(read_file(folder / name.name), reduced_copy(exif_jpeg()));
        EXPECT_TRUE(date_kept(folder / name.name));
    }
    EXPECT_FALSE(temp_left(folder));
}

TEST_F(CommandLine, SweepsAFolderNamedInAnotherScript) {
    ASSERT_EQ(GetACP(), expected_code_page());
    fs::path photos = folder / L"\u5199\u771f\u30bd";  // 写真ソ: its last byte in Shift-JIS is 0x5C
    fs::create_directory(photos);
    for (const ScriptName& name : names_in_scripts(".png")) write_dated(photos / name.name, png_with_phys());
    EXPECT_EQ(run_brinq_wide(folder, {photos.wstring()}), 0u);
    for (const ScriptName& name : names_in_scripts(".png")) {
        EXPECT_EQ(read_file(photos / name.name), png_without_phys());
        EXPECT_TRUE(date_kept(photos / name.name));
    }
}

// Folders whose paths pass the old limit of 259 characters, and a file in one, as arguments.
TEST_F(CommandLine, CleansFoldersAndFilesWhosePathsPassTheOldLimit) {
    std::vector<fs::path> deep = deep_folders(folder);
    for (const fs::path& each : deep) write_dated(each / "a.png", png_with_phys());
    write_dated(deep[1] / "b.jpg", exif_jpeg());
    EXPECT_EQ(run_brinq_wide(folder, {deep[0].wstring(), deep[1].wstring() + L"\\b.jpg"}), 0u);
    EXPECT_EQ(read_file(deep[0] / "a.png"), png_without_phys());
    EXPECT_EQ(read_file(deep[1] / "a.png"), png_with_phys());
    EXPECT_EQ(read_file(deep[1] / "b.jpg"), reduced_copy(exif_jpeg()));
    EXPECT_TRUE(date_kept(deep[1] / "b.jpg"));
}

// A path in the \\?\ form names exactly the file it spells: "y.jpg." beside "y.jpg" (as a share
// or another system's disk has them) is cleaned alone; a sweep cleans each as itself.
TEST_F(CommandLine, TakesAPathInTheExtendedFormAsItStands) {
    std::wstring dotted = L"\\\\?\\" + (folder / "y.jpg.").wstring();
    write_file(dotted, exif_jpeg());
    write_file(folder / "y.jpg", exif_jpeg() + text_bytes("y.jpg"));
    EXPECT_EQ(run_brinq_wide(folder, {dotted}), 0u);
    EXPECT_EQ(read_file(dotted), reduced_copy(exif_jpeg()));
    EXPECT_EQ(read_file(folder / "y.jpg"), exif_jpeg() + text_bytes("y.jpg"));
    EXPECT_EQ(run_brinq_wide(folder, {folder.wstring()}), 0u);
    EXPECT_EQ(read_file(folder / "y.jpg"), reduced_copy(exif_jpeg() + text_bytes("y.jpg")));
    EXPECT_EQ(read_file(dotted), reduced_copy(exif_jpeg()));
}

// The run-time library splits the command line: a quoted path with spaces is one argument, and
// the executable's own quoted path is not taken for a file.
TEST_F(CommandLine, TakesEachQuotedPathWithSpacesWhole) {
    fs::path photos = folder / "my photos";
    std::string inside = image(photos / "a b.png");
    std::string loose = image(folder / "two  spaces.jpg", exif_jpeg());
    std::string bystander = image(folder / "my", png_with_phys());  // what "my photos" would split into
    EXPECT_EQ(run_brinq(folder, {photos.string(), loose}), 0u);
    EXPECT_EQ(read_file(inside), png_without_phys());
    EXPECT_EQ(read_file(loose), reduced_copy(exif_jpeg()));
    EXPECT_EQ(read_file(bystander), png_with_phys());
}

TEST(StartUp, PutsTheTemporaryFileInTheExecutablesFolderAndTheKeyInTheUsersProfile) {
    ASSERT_TRUE(start_up());
    wchar_t module[MAX_PATH], local[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
    std::wstring folder = L"\\\\?\\" + fs::path(module).parent_path().wstring() + L"\\";
    EXPECT_EQ(exe_dir, folder);
    EXPECT_EQ(temp_folders[0].path, folder + L"xtmp_7x91x4vnq.xxxx");
    EXPECT_EQ(key_folder, L"\\\\?\\" + std::wstring(local) + L"\\Brindlequist");
}

// A stale temporary file of a killed brinq.exe: a whole picture of a size no source has, so
// that a source replaced by it would show.
static Bytes stale_picture() {
    return png_signature() + png_chunk("IHDR", be32(2) + be32(2) + Bytes{8, 0, 0, 0, 0}) +
           png_chunk("IDAT", noise(777, 91)) + png_chunk("IEND", {});
}

TEST_F(CommandLine, AfterOneKilledInItsFileTheNextCleansAllAndNeverCopiesTheStaleFile) {
    Bytes photo = png_with_phys() + noise(5000, 3);  // trailing bytes after IEND
    std::map<std::string, Bytes> sources = {
        {"a_cut.png", first_bytes(png_with_phys(), 40)},
        {"b_cut.jpg", first_bytes(exif_jpeg(), 60)},
        {"c_notes.txt", text_bytes("not a picture")},
        {"d_plain.png", png_without_phys()},
        {"e_photo.png", photo},
        {"f_photo.jpg", exif_jpeg()},
        {"g_noise.jpg", noise(3000, 4)},
        {"h_photo.png", png_with_phys()},
    };
    std::map<std::string, Bytes> expected;
    for (const auto& [name, bytes] : sources) expected[name] = cleaned_in_place(bytes);
    fs::path bin = folder / "bin", pictures = folder / "pictures";
    fs::create_directories(bin);
    for (const auto& [name, bytes] : sources) image(pictures / name, bytes);
    write_file(bin / "xtmp_7x91x4vnq.xxxx", stale_picture());

    EXPECT_EQ(run_brinq(bin, {pictures.string()}), 0u);
    int cleaned = 0;
    for (const auto& [name, bytes] : sources) {
        EXPECT_TRUE(holds(pictures / name, expected[name]));
        EXPECT_FALSE(holds(pictures / name, stale_picture()));
        cleaned += !holds(pictures / name, bytes);
    }
    EXPECT_EQ(cleaned, 3);
    EXPECT_FALSE(temp_left(bin));
    EXPECT_EQ(std::distance(fs::directory_iterator(bin), fs::directory_iterator()), 1);  // brinq.exe alone
}
