// The live window driven in this process: drops, button presses and releases, the about
// screen, minimise and restore, and stops during a batch.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "app/app.h"
#include "batch/batch.h"
#include "tests/win/screen_fixture.h"
#include "tests/win/win_fixture.h"
#include "ui/ui.h"

namespace fs = std::filesystem;

static std::string expected_result(int targets, int changed) {
    std::string line = "対象画像ファイル " + std::to_string(targets);
    if (changed == 0) return sjis((line + " 個の中に除去対象データはありません。").c_str());
    return sjis((line + " 個のうち " + std::to_string(changed) + " 個から除去しました。").c_str());
}

// Client points of the buttons and the body.
static const POINT close_point = {387, 10};
static const POINT minimise_point = {367, 10};
static const POINT about_point = {330, 10};
static const POINT quit_point = {340, 166};
static const POINT entry3_point = {40, 166};
static const POINT body_point = {200, 100};

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        folder = scratch_folder();
        use_temp_folder(folder);
        about_shown = 0;  // left over from an earlier test in this process
        ASSERT_TRUE(open_window(GetModuleHandleA(nullptr), SW_SHOWNORMAL));
        abort_requested = 0;
        quit_requested = 0;
        start_recording();
    }
    void TearDown() override {
        stop_recording();
        close_window(GetModuleHandleA(nullptr));
        remove_tree(folder);
    }
    std::string image(const std::string& name, const Bytes& bytes = png_with_phys()) {
        fs::path path = folder / name;
        fs::create_directories(path.parent_path());
        write_file(path, bytes);
        return path.string();
    }
    bool cleaned(const std::string& name) { return read_file(folder / name) == png_without_phys(); }
    // Keeps the progress area of the Canvas at each of the first n pumps of a batch in progress.
    void record_progress(size_t n) {
        for (size_t i = 1; i <= n; i++) at_message(i, [this] { progress.push_back(region(2, 30, 398, 148)); });
    }
    fs::path folder;
    std::vector<std::vector<COLORREF>> progress;
};

// A drop handle as the shell makes one: DROPFILES, then the paths, ANSI or wide, each
// NUL-ended, and a NUL.
template <typename Char>
static HDROP make_drop(const std::vector<std::basic_string<Char>>& paths) {
    size_t size = sizeof(DROPFILES) + sizeof(Char);
    for (const auto& path : paths) size += (path.size() + 1) * sizeof(Char);
    HGLOBAL memory = GlobalAlloc(GHND, size);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = sizeof(Char) == sizeof(wchar_t);
    auto* at = reinterpret_cast<Char*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES));
    for (const auto& path : paths) {
        memcpy(at, path.c_str(), (path.size() + 1) * sizeof(Char));
        at += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

static void send_drop(HDROP handle) {
    SendMessageA(main_window, WM_DROPFILES, reinterpret_cast<WPARAM>(handle), 0);
}

static void drop(const std::vector<std::string>& paths) { send_drop(make_drop(paths)); }
static void drop_wide(const std::vector<std::wstring>& paths) { send_drop(make_drop(paths)); }

static void put_cursor(POINT client) {
    ClientToScreen(main_window, &client);
    SetCursorPos(client.x, client.y);
}

static void left_press(POINT at) {
    put_cursor(at);
    SendMessageA(main_window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
}

static void left_release(POINT at) {
    put_cursor(at);
    SendMessageA(main_window, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

static void click(POINT at) {
    left_press(at);
    left_release(at);
}

static void right_press(POINT at) {
    put_cursor(at);
    SendMessageA(main_window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
}

// Whether the band below the instructions shows exactly `line` at (25, 110).
static bool result_shows(const std::string& line) {
    std::vector<COLORREF> drawn = region(2, 100, 398, 148);
    return drawn == redrawn(2, 100, 398, 148, 0x303030, {{25, 110, line}});
}

static bool about_on_screen() { return GetPixel(canvas_dc, 200, 130) == 0x202020; }

TEST_F(Window, CleansThreeDroppedFilesInDropOrder) {
    std::string c = image("c.png"), a = image("a.png"), b = image("b.png", png_without_phys());
    drop({c, a, b});
    EXPECT_EQ(cleaned_order(), (std::vector<std::string>{"c.png", "a.png", "b.png"}));
    EXPECT_TRUE(cleaned("c.png"));
    EXPECT_TRUE(cleaned("a.png"));
    EXPECT_EQ(target_count, 3);
    EXPECT_EQ(changed_count, 2);
    EXPECT_TRUE(result_shows(expected_result(3, 2)));
    EXPECT_EQ(batch_busy, 0);
    EXPECT_TRUE(save_screenshot("window-after-drop"));
}

TEST_F(Window, CleansAFolderAndFilesOfOneDrop) {
    image("photos/x.png");
    image("photos/y.jpg");
    // JPEGs that begin with IPTC (cleaned) and with a table (clean already) count too.
    Bytes iptc_first = exif_jpeg();
    iptc_first[3] = 0xED;
    image("photos/iptc.jpg", iptc_first);
    image("photos/tables.jpg", Bytes{0xFF, 0xD8} + Bytes(iptc_first.begin() + 42, iptc_first.end()));
    std::string loose = image("loose.png");
    drop({(folder / "photos").string(), loose});
    EXPECT_TRUE(cleaned("photos/x.png"));
    EXPECT_TRUE(cleaned("photos/y.jpg"));
    EXPECT_TRUE(cleaned("loose.png"));
    EXPECT_TRUE(result_shows(expected_result(5, 4)));
}

TEST_F(Window, SweepsEveryFolderOfOneDrop) {
    image("one/x.png");
    image("two/y.png");
    drop({(folder / "one").string(), (folder / "two").string()});
    EXPECT_TRUE(cleaned("one/x.png"));
    EXPECT_TRUE(cleaned("two/y.png"));
    EXPECT_EQ(target_count, 2);
}

// The code page's spelling of `wide`, where it has every letter: the round trip tells.
static bool spell_in(UINT code_page, const std::wstring& wide, std::string* to) {
    to->assign(wide.size() * 4, '\0');
    int length = WideCharToMultiByte(code_page, 0, wide.data(), int(wide.size()), to->data(), int(to->size()), nullptr,
                                     nullptr);
    to->resize(size_t(std::max(length, 0)));
    std::wstring back(wide.size(), L'\0');
    back.resize(size_t(std::max(
        MultiByteToWideChar(code_page, 0, to->data(), int(to->size()), back.data(), int(back.size())), 0)));
    return back == wide;
}

// Whether a progress area showed `name` from its UTF-16, cut before the character that would pass 360
// pixels, in glyphs that the font has where Shift-JIS or Latin-1 spell it; and looked as the old drawing
// of the ANSI bytes `old`, cut to 60, just where those were the cut name in Shift-JIS, the font's reading.
static bool progress_showed(const std::vector<COLORREF>& shown, const std::wstring& name, const std::string& old) {
    int fit = 0;
    SIZE size{};
    GetTextExtentExPointW(canvas_dc, name.c_str(), int(name.size()), 360, &fit, nullptr, &size);
    while (fit > 0 && (IS_LOW_SURROGATE(name[fit]) || (name[fit] >= 0x300 && name[fit] < 0x370))) fit--;
    std::wstring cut = name.substr(0, fit);
    std::string sjis, latin;
    bool lettered = spell_in(932, cut, &sjis) || spell_in(1252, cut, &latin);
    bool old_right = spell_in(932, cut, &sjis) && old.substr(0, 60) == sjis;
    std::vector<WORD> glyphs(cut.size() + 1);
    GetGlyphIndicesW(canvas_dc, cut.c_str(), fit, glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
    bool as_old = shown == redrawn(2, 30, 398, 148, 0x303030, {{10, 30, old.substr(0, 60)}});
    return shown == redrawn(2, 30, 398, 148, 0x303030, {{10, 30, "", cut}}) && as_old == old_right &&
           !(lettered && std::count(glyphs.begin(), glyphs.begin() + fit, WORD(0xFFFF)) > 0);
}

// A dropped file shows with ASCII capitals in the last four units of its name lowered: bytes or UTF-16.
template <typename Char>
static std::basic_string<Char> shown_when_dropped(std::basic_string<Char> name) {
    for (size_t i = name.size() > 4 ? name.size() - 4 : 0; i < name.size(); i++)
        if (name[i] >= 'A' && name[i] <= 'Z') name[i] += 0x20;
    return name;
}

TEST_F(Window, CleansDroppedFilesNamedInAnyScript) {
    ASSERT_EQ(GetACP(), expected_code_page());
    // And names cut inside a character: a Shift-JIS letter at byte 60, a surrogate pair, a mark at 360 pixels.
    std::vector<ScriptName> names = names_in_scripts(".PNG");
    for (const std::wstring& stem : {L"0" + std::wstring(40, L'\u5199'), std::wstring(29, L'\u5199') + L"\U0001F600",
                                     std::wstring(59, L'a') + L"e\u0301"})
        names.push_back(script_name(stem + L".PNG"));
    std::vector<std::wstring> paths;
    std::vector<std::string> expected;
    for (const ScriptName& name : names) {
        write_dated(folder / name.name, png_with_phys());
        paths.push_back((folder / name.name).wstring());
        expected.push_back(utf8(name.name));
    }
    // Each file is on screen at the pump after it: its whole name, though a Shift-JIS trail
    // byte 0x5C looks like a backslash to a search byte by byte.
    record_progress(expected.size());
    drop_wide(paths);
    EXPECT_EQ(cleaned_order(), expected);
    for (const ScriptName& name : names) {
        EXPECT_EQ(read_file(folder / name.name), png_without_phys());
        EXPECT_TRUE(date_kept(folder / name.name));
    }
    EXPECT_TRUE(result_shows(expected_result(int(expected.size()), int(expected.size()))));
    ASSERT_EQ(progress.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++)
        EXPECT_TRUE(progress_showed(progress[i], shown_when_dropped(names[i].name), shown_when_dropped(names[i].ansi)))
            << expected[i];
}

TEST_F(Window, SweepsADroppedFolderNamedInAnotherScript) {
    ASSERT_EQ(GetACP(), expected_code_page());
    fs::path photos = folder / L"\u0444\u043e\u0442\u043e\u80fd";  // фото能: its last byte in Shift-JIS is 0x5C
    fs::create_directory(photos);
    std::vector<ScriptName> names = names_in_scripts(".jpg");
    for (const ScriptName& name : names) write_dated(photos / name.name, png_with_phys());
    image("loose.png");
    // The sweep shows each file before it cleans it, the found name as it goes in.
    record_progress(names.size());
    drop_wide({photos.wstring(), (folder / "loose.png").wstring()});
    for (const ScriptName& name : names) {
        EXPECT_EQ(read_file(photos / name.name), png_without_phys());
        EXPECT_TRUE(date_kept(photos / name.name));
    }
    EXPECT_TRUE(cleaned("loose.png"));
    EXPECT_TRUE(result_shows(expected_result(int(names.size()) + 1, int(names.size()) + 1)));
    std::vector<std::string> order = cleaned_order();
    ASSERT_EQ(order.size(), names.size() + 1);
    ASSERT_EQ(progress.size(), names.size());
    for (size_t i = 0; i < names.size(); i++) {
        auto name = std::find_if(names.begin(), names.end(), [&](auto& n) { return utf8(n.name) == order[i]; });
        EXPECT_TRUE(name != names.end() && progress_showed(progress[i], name->name, name->ansi)) << order[i];
    }
}

// Dropped folders whose paths pass the old limit of 259 characters, and a file in one dropped
// alone, which shows its name.
TEST_F(Window, CleansDroppedFoldersAndFilesWhosePathsPassTheOldLimit) {
    std::vector<fs::path> deep = deep_folders(folder);
    for (const fs::path& each : deep) write_dated(each / "a.png", png_with_phys());
    write_dated(deep[1] / "Long.PNG", png_with_phys());
    record_progress(1);
    drop_wide({(deep[1] / "Long.PNG").wstring()});
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_TRUE(progress_showed(progress[0], L"Long.png", "Long.png"));
    drop_wide({deep[0].wstring(), deep[1].wstring()});
    for (const fs::path& each : deep) EXPECT_EQ(read_file(each / "a.png"), png_without_phys());
    EXPECT_EQ(read_file(deep[1] / "Long.PNG"), png_without_phys());
    EXPECT_TRUE(result_shows(expected_result(3, 2)));  // Long.PNG clean already
}

// The program's temporary file and waiting records, dropped from elsewhere with the rest, are
// passed over: untouched and uncounted, whatever they hold.
TEST_F(Window, PassesOverTheProgramsScratchFilesDroppedWithTheRest) {
    std::vector<std::string> scratch = {image("elsewhere/xtmp_7x91x4vnq.xxxx"), image("elsewhere/XTMP_7X91X4VNQ.P001")};
    drop({scratch[0], scratch[1], image("a.png")});
    for (const std::string& path : scratch) EXPECT_EQ(read_file(path), png_with_phys());
    EXPECT_TRUE(result_shows(expected_result(1, 1)));
}

TEST_F(Window, ReportsNothingForAMissingPathOrAnEmptyDrop) {
    drop({(folder / "missing.png").string()});
    EXPECT_TRUE(result_shows(expected_result(0, 0)));
    drop({});
    EXPECT_EQ(target_count, 0);
    EXPECT_TRUE(result_shows(expected_result(0, 0)));
}

TEST_F(Window, QuitPressStopsTheBatchWithTheCountsSoFar) {
    std::string a = image("a.png"), b = image("b.png"), c = image("c.png");
    at_message(1, [] { left_press(quit_point); });
    drop({a, b, c});
    EXPECT_EQ(cleaned_order(), std::vector<std::string>{"a.png"});
    EXPECT_FALSE(cleaned("b.png"));
    EXPECT_TRUE(result_shows(expected_result(1, 1)));
    EXPECT_EQ(abort_requested, 0);
    left_release(body_point);
    EXPECT_EQ(running, 1);  // released away from quit: no click
}

TEST_F(Window, EscapeStopsTheBatch) {
    std::string a = image("a.png"), b = image("b.png");
    at_message(1, [] {
        keybd_event(VK_ESCAPE, 0, 0, 0);
        keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    });
    drop({a, b});
    EXPECT_TRUE(cleaned("a.png"));
    EXPECT_FALSE(cleaned("b.png"));
    EXPECT_EQ(target_count, 1);
}

TEST_F(Window, AStopRequestedBeforeADropEndsItAfterItsFirstFile) {
    std::string a = image("a.png"), b = image("b.png");
    abort_requested = 1;
    drop({a, b});
    EXPECT_TRUE(cleaned("a.png"));
    EXPECT_FALSE(cleaned("b.png"));
    EXPECT_EQ(abort_requested, 0);
}

// Flushes that take 400 ms, as a memory card's might.
static BOOL WINAPI slow_flush(HANDLE file) {
    Sleep(400);
    return real_flush(file);
}

// A stop while the sources of a group flush (a large copy ends its group at once): the window
// answers meanwhile, the batch ends once they are on the disk, and no file after the stop is
// touched.
TEST_F(Window, AStopDuringAGroupsFlushesEndsTheBatchOnceTheyAreOnTheDisk) {
    Bytes large = png_with_phys() + noise(5000000, 8);
    std::string big = image("big.png", large), b = image("b.png"), c = image("c.png");
    bool answered = false;
    at_message(1, [] { click(quit_point); });
    at_message(2, [&answered] { answered = true; });
    hook_flushes(slow_flush);
    drop({big, b, c});
    hook_flushes(real_flush);
    EXPECT_TRUE(answered);
    EXPECT_EQ(read_file(big), reduced_copy(large));
    EXPECT_FALSE(cleaned("b.png") || cleaned("c.png"));
    EXPECT_TRUE(result_shows(expected_result(1, 1)));
}

TEST_F(Window, AStopRequestedBeforeADroppedFolderIsClearedByItsSweep) {
    image("photos/a.png");
    image("photos/b.png");
    std::string c = image("c.png");
    abort_requested = 1;
    drop({(folder / "photos").string(), c});
    EXPECT_TRUE(cleaned("photos/a.png"));
    EXPECT_TRUE(cleaned("photos/b.png"));
    EXPECT_TRUE(cleaned("c.png"));
}

TEST_F(Window, ADropDuringABatchWaitsForItsEnd) {
    image("photos/a.png");
    image("photos/b.png");
    std::string late = image("late.png");
    at_message(2, [late] { drop({late}); });
    drop({(folder / "photos").string()});
    EXPECT_EQ(cleaned_order(), (std::vector<std::string>{"a.png", "b.png", "late.png"}));
    EXPECT_TRUE(cleaned("photos/a.png"));
    EXPECT_TRUE(cleaned("photos/b.png"));
    EXPECT_TRUE(cleaned("late.png"));
    // The screen and the counters belong to the last drop.
    EXPECT_EQ(target_count, 1);
    EXPECT_TRUE(result_shows(expected_result(1, 1)));
    EXPECT_EQ(batch_busy, 0);
}

// Close lets the batch end and the program ends after it; quit and Escape are the ways to stop.
TEST_F(Window, CloseDuringABatchLetsItCleanEveryFile) {
    std::string a = image("a.png"), b = image("b.png"), c = image("c.png");
    at_message(1, [] { click(close_point); });
    drop({a, b, c});
    EXPECT_EQ(running, 0);
    EXPECT_EQ(cleaned_order(), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
    EXPECT_TRUE(cleaned("c.png"));
    EXPECT_TRUE(result_shows(expected_result(3, 3)));
}

TEST_F(Window, CloseDuringTheSweepOfALargeFolderLetsItCleanTheWholeFolder) {
    std::vector<std::string> names;
    for (int i = 0; i < 30; i++) names.push_back("photos/" + std::to_string(i) + ".png");
    for (const std::string& name : names) image(name);
    at_message(3, [] { click(close_point); });
    drop({(folder / "photos").string()});
    EXPECT_EQ(running, 0);
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [this](const std::string& n) { return cleaned(n); }), 30);
    EXPECT_EQ(target_count, 30);
    EXPECT_EQ(changed_count, 30);
}

// Alt+F4 and the task bar's close arrive as SC_CLOSE; the default handling would destroy the
// window under the batch, which then draws into a dead device context.
TEST_F(Window, ACloseFromTheSystemDuringADropLetsItEndWithTheWindowAlive) {
    std::string a = image("a.png"), b = image("b.png"), c = image("c.png");
    at_message(1, [] { SendMessageA(main_window, WM_SYSCOMMAND, SC_CLOSE, 0); });
    drop({a, b, c});
    EXPECT_TRUE(IsWindow(main_window));  // the teardown destroys it, after the loop
    EXPECT_EQ(running, 0);
    EXPECT_EQ(cleaned_order(), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
    EXPECT_TRUE(result_shows(expected_result(3, 3)));
}

TEST_F(Window, ACloseFromTheSystemDuringASweepLetsItCleanTheWholeFolder) {
    std::vector<std::string> names = {"photos/a.png", "photos/b.png", "photos/c.png"};
    for (const std::string& name : names) image(name);
    at_message(2, [] { SendMessageA(main_window, WM_CLOSE, 0, 0); });  // the first file is cleaned by then
    drop({(folder / "photos").string()});
    EXPECT_TRUE(IsWindow(main_window));
    EXPECT_EQ(running, 0);
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [this](const std::string& n) { return cleaned(n); }), 3);
    EXPECT_EQ(target_count, 3);
}

// Freed by DragFinish: the handle no longer names any memory.
static bool released(HDROP drop) { return GlobalSize(drop) == 0; }

// The quit press stops the queued drop in hand; its release, which clears running, comes only
// once the next queued drop has begun.
TEST_F(Window, AQuitDuringQueuedDropsCleansNoFileAfterItsRelease) {
    std::string a = image("a.png"), b1 = image("b1.png"), b2 = image("b2.png");
    std::string c1 = image("c1.png"), c2 = image("c2.png"), c3 = image("c3.png");
    HDROP queued[2] = {make_drop<char>({b1, b2}), make_drop<char>({c1, c2, c3})};
    at_message(1, [&queued] {
        for (HDROP d : queued) SendMessageA(main_window, WM_DROPFILES, reinterpret_cast<WPARAM>(d), 0);
    });
    at_message(2, [] { left_press(quit_point); });
    at_message(3, [] { left_release(quit_point); });
    drop({a});
    EXPECT_EQ(running, 0);
    EXPECT_EQ(cleaned_order(), (std::vector<std::string>{"a.png", "b1.png", "c1.png"}));
    EXPECT_FALSE(cleaned("b2.png"));
    EXPECT_FALSE(cleaned("c2.png"));
    EXPECT_FALSE(cleaned("c3.png"));
    EXPECT_TRUE(released(queued[0]));
    EXPECT_TRUE(released(queued[1]));
}

TEST_F(Window, DropsWaitingWhenTheWindowClosesAreCleanedToo) {
    std::string a = image("a.png"), b = image("b.png"), c = image("c.png");
    HDROP queued[2] = {make_drop<char>({b}), make_drop<char>({c})};
    at_message(1, [&queued] {
        for (HDROP d : queued) SendMessageA(main_window, WM_DROPFILES, reinterpret_cast<WPARAM>(d), 0);
        click(close_point);
    });
    drop({a});
    EXPECT_EQ(running, 0);
    EXPECT_EQ(cleaned_order(), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
    EXPECT_TRUE(released(queued[0]));
    EXPECT_TRUE(released(queued[1]));
    EXPECT_TRUE(result_shows(expected_result(1, 1)));  // the last drop's own count
}

// A program folder that takes no file (here one that is gone): the temporary file goes to the
// user's temporary folder, and the result line tells the truth.
TEST_F(Window, CleansThroughTheUsersTemporaryFolderWhenTheProgramsFolderTakesNoFile) {
    wchar_t user_temp[MAX_PATH];
    GetTempPathW(MAX_PATH, user_temp);
    use_temp_folder(folder / "gone", user_temp);
    std::string a = image("a.png"), b = image("b.png", png_without_phys()), c = image("c.jpg", exif_jpeg());
    drop({a, b, c});
    EXPECT_TRUE(cleaned("a.png"));
    EXPECT_EQ(read_file(c), reduced_copy(exif_jpeg()));
    EXPECT_TRUE(result_shows(expected_result(3, 2)));
    EXPECT_TRUE(temp_folders[0].blocked);
    EXPECT_FALSE(fs::exists(temp_file(1)));
}

TEST_F(Window, ALogoffDuringABatchStopsItAfterTheFileInHandAndLetsTheSessionEnd) {
    std::string a = image("a.png"), b = image("b.png"), c = image("c.png");
    LRESULT answer = FALSE;
    at_message(1, [&answer] {
        answer = SendMessageA(main_window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        SendMessageA(main_window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    });
    drop({a, b, c});
    EXPECT_EQ(answer, TRUE);
    EXPECT_EQ(cleaned_order(), std::vector<std::string>{"a.png"});
    EXPECT_FALSE(cleaned("b.png"));
    EXPECT_TRUE(result_shows(expected_result(1, 1)));
}

TEST_F(Window, ASessionEndingDuringQueuedDropsReleasesThemUncleanedAndEndsTheProgram) {
    std::string a = image("a.png"), b1 = image("b1.png"), b2 = image("b2.png");
    HDROP queued = make_drop<char>({b1, b2});
    at_message(1, [queued] {
        SendMessageA(main_window, WM_DROPFILES, reinterpret_cast<WPARAM>(queued), 0);
        SendMessageA(main_window, WM_QUERYENDSESSION, 0, 0);
        SendMessageA(main_window, WM_ENDSESSION, TRUE, 0);
    });
    drop({a});
    EXPECT_EQ(running, 0);
    EXPECT_EQ(cleaned_order(), std::vector<std::string>{"a.png"});
    EXPECT_FALSE(cleaned("b1.png"));
    EXPECT_TRUE(released(queued));
}

// Called off before the batch, and during it: the batch goes on to its end.
TEST_F(Window, ALogoffCalledOffLeavesTheWindowCleaning) {
    std::string a = image("a.png"), b = image("b.png"), c = image("c.png");
    auto call_off = [] {
        EXPECT_EQ(SendMessageA(main_window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
        SendMessageA(main_window, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF);
    };
    call_off();
    at_message(1, call_off);
    drop({a, b, c});
    EXPECT_EQ(running, 1);
    EXPECT_EQ(cleaned_order(), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
    EXPECT_TRUE(cleaned("c.png"));
}

static int timer_calls;

// Another process's file in hand: the logoff arrives while the window waits for it.
static void CALLBACK log_off_on_third_call(HWND, UINT, UINT_PTR, DWORD) {
    if (++timer_calls != 3) return;
    SendMessageA(main_window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    SendMessageA(main_window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
}

TEST_F(Window, ALogoffWhileWaitingForAnotherProcessesFileInHandCleansNothing) {
    std::string a = image("a.png"), b = image("b.png");
    hold_temp_lock();
    timer_calls = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, log_off_on_third_call);
    drop({a, b});
    KillTimer(nullptr, timer);
    let_go_of_temp_lock(false);
    EXPECT_GE(timer_calls, 3);
    EXPECT_FALSE(cleaned("a.png"));
    EXPECT_FALSE(cleaned("b.png"));
    EXPECT_TRUE(result_shows(expected_result(0, 0)));
}

TEST_F(Window, QuitDuringABatchStopsItAndEndsTheProgram) {
    std::string a = image("a.png"), b = image("b.png");
    at_message(1, [] { click(quit_point); });
    drop({a, b});
    EXPECT_EQ(running, 0);
    EXPECT_FALSE(cleaned("b.png"));
}

TEST_F(Window, AboutOpensOnVerAndClosesOnAPressIntoTheBody) {
    EXPECT_FALSE(about_on_screen());
    click(about_point);
    EXPECT_EQ(about_shown, 1);
    EXPECT_TRUE(about_on_screen());
    left_press(body_point);
    left_release(body_point);
    EXPECT_EQ(about_shown, 0);
    EXPECT_FALSE(about_on_screen());
}

TEST_F(Window, AboutClosesOnARightPressIntoTheBody) {
    click(about_point);
    right_press(body_point);
    EXPECT_EQ(about_shown, 0);
}

TEST_F(Window, APressOutsideTheBodyZoneLeavesTheAboutScreen) {
    click(about_point);
    click({10, 100});  // x < 20
    click({200, 30});  // y < 40
    EXPECT_EQ(about_shown, 1);
}

TEST_F(Window, VerReleasedTwiceDrawsTheAboutScreenOnce) {
    click(about_point);
    SetPixel(canvas_dc, 200, 120, 0x0000FF);  // a mark only a new about screen would paint over
    click(about_point);
    EXPECT_EQ(GetPixel(canvas_dc, 200, 120), COLORREF(0x0000FF));
}

TEST_F(Window, APressReleasedOverAnotherButtonIsNoClick) {
    left_press(about_point);
    left_release(close_point);
    EXPECT_EQ(running, 1);
    EXPECT_EQ(about_shown, 0);
    left_press(quit_point);
    left_release(close_point);
    EXPECT_EQ(running, 1);
}

TEST_F(Window, TheInvisibleEntryTakesPressesButDoesNothing) {
    click(about_point);
    click(entry3_point);
    EXPECT_EQ(about_shown, 1);  // no pointer tracking for a press on an entry
    EXPECT_EQ(running, 1);
    EXPECT_EQ(press_slot, 3);
}

TEST_F(Window, AReleaseWithoutAPressInTheWindowActsOnNothing) {
    click(about_point);  // leaves the about entry's index, 2, in press_slot
    left_release(minimise_point);  // pressed outside the window: entry 1 must not act
    EXPECT_FALSE(IsIconic(main_window));
    EXPECT_EQ(restore_pending, 0);
}

TEST_F(Window, MinimiseThenTheNextReleaseRestores) {
    click(minimise_point);
    EXPECT_TRUE(IsIconic(main_window));
    EXPECT_EQ(restore_pending, 1);
    left_release(body_point);
    EXPECT_FALSE(IsIconic(main_window));
    EXPECT_EQ(restore_pending, 0);
}

// Pictures of every kind, each one different, some large enough to be copied in many writes.
static std::map<std::string, Bytes> mixed_pictures(const std::string& sub_folder, uint32_t seed) {
    Bytes ihdr = png_chunk("IHDR", be32(1) + be32(1) + Bytes{8, 0, 0, 0, 0});
    std::map<std::string, Bytes> pictures;
    for (uint32_t i = 0; i < 24; i++) {
        std::string stem = sub_folder + "/" + std::to_string(i);
        Bytes tail = noise(50 + i, seed * 100 + i);
        if (i % 4 == 0) pictures[stem + ".png"] = png_with_phys() + tail;
        if (i % 4 == 1) pictures[stem + ".jpg"] = exif_jpeg() + tail;
        if (i % 4 == 2)
            pictures[stem + ".png"] = png_signature() + ihdr + png_chunk("pHYs", filled(9, 1)) +
                                      png_chunk("IDAT", noise(100000 + 20000 * i, seed * 100 + i)) +
                                      png_chunk("IEND", {});
        if (i % 4 == 3) pictures[stem + ".png"] = png_without_phys() + tail;
    }
    return pictures;
}

// The window's batch holds the temporary file beside the program: a command-line brinq.exe
// started from the same folder meanwhile finds it busy and, a second later, cleans its own
// folder through the user's temporary folder, while the window's batch still holds the file.
TEST_F(Window, SweepsAFolderWhileACommandLineBrinqCleansAnotherThroughTheOtherFolder) {
    std::map<std::string, Bytes> sources = mixed_pictures("a", 1), dropped = mixed_pictures("b", 2);
    sources.insert(dropped.begin(), dropped.end());
    std::map<std::string, Bytes> expected;
    int dropped_to_clean = 0;
    for (const auto& [name, bytes] : sources) {
        expected[name] = cleaned_in_place(bytes);
        image(name, bytes);
        dropped_to_clean += dropped.count(name) && expected[name] != bytes;
    }
    DWORD code = DWORD(-1);
    bool held_meanwhile = false;
    at_message(2, [&] {
        PROCESS_INFORMATION command_line = start_brinq(folder, {(folder / "a").string()});
        ASSERT_TRUE(command_line.hProcess);
        EXPECT_EQ(WaitForSingleObject(command_line.hProcess, 60000), DWORD(WAIT_OBJECT_0));
        GetExitCodeProcess(command_line.hProcess, &code);
        CloseHandle(command_line.hThread);
        CloseHandle(command_line.hProcess);
        held_meanwhile = fs::exists(folder / "xtmp_7x91x4vnq.xxxx");
    });
    drop({(folder / "b").string()});
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(held_meanwhile);
    for (const auto& [name, bytes] : sources) EXPECT_TRUE(holds(folder / name, expected[name])) << name;
    EXPECT_EQ(target_count, int(dropped.size()));
    EXPECT_EQ(changed_count, dropped_to_clean);
    EXPECT_TRUE(result_shows(expected_result(int(dropped.size()), dropped_to_clean)));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 3);  // a, b, brinq.exe
}

TEST_F(Window, PaintsFromTheCanvasAndNeverErases) {
    EXPECT_EQ(SendMessageA(main_window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(window_dc), 0), 0);
}

TEST(WindowPosition, IsMeasuredFromTheScreensEdgeWhateverTheWorkAreasLeft) {
    RECT area = {100, 0, 1124, 768};  // a task bar of 100 pixels on the left
    POINT at = window_position(area);
    EXPECT_EQ(at.x, 1024 / 2 - 200);
    EXPECT_EQ(at.y, 768 / 2 - 100);
}

// The window's class name, taken by someone else before the window mode starts.
static bool take_class_name() {
    WNDCLASSEXA taken{};
    taken.cbSize = sizeof taken;
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = GetModuleHandleA(nullptr);
    taken.lpszClassName = "XXXRES";
    return RegisterClassExA(&taken) != 0;
}

TEST(WindowMode, EndsWithoutALoopWhenTheWindowCannotBeMade) {
    ASSERT_TRUE(take_class_name());
    run_window_mode(GetModuleHandleA(nullptr), SW_HIDE);  // would never return inside a loop
    EXPECT_EQ(running, 0);
    EXPECT_EQ(canvas_dc, nullptr);
    UnregisterClassA("XXXRES", GetModuleHandleA(nullptr));
}

TEST(WindowMode, LeavesAClassThatItDidNotRegister) {
    ASSERT_TRUE(take_class_name());
    run_window_mode(GetModuleHandleA(nullptr), SW_HIDE);
    EXPECT_TRUE(UnregisterClassA("XXXRES", GetModuleHandleA(nullptr)));  // still there to unregister
}

static HWND closed_window;

// Sends the close from a thread of its own, as the task bar does, once the window shows; then
// posts a message of its own, which an idle loop must not need to notice the close.
static DWORD WINAPI close_from_outside(LPVOID main_thread) {
    for (int i = 0; i < 500 && !closed_window; i++) {
        HWND window = FindWindowA("XXXRES", "brinq");
        DWORD owner = 0;
        if (window) GetWindowThreadProcessId(window, &owner);
        if (window && owner == GetCurrentProcessId() && IsWindowVisible(window)) closed_window = window;
        else Sleep(10);
    }
    if (closed_window) SendMessageA(closed_window, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostThreadMessageA(static_cast<DWORD>(reinterpret_cast<uintptr_t>(main_thread)), WM_APP, 0, 0);
    return 0;
}

TEST(WindowMode, EndsOnACloseFromTheSystemWithNoBatchRunning) {
    closed_window = nullptr;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for the helper's post
    LPVOID main_thread = reinterpret_cast<LPVOID>(uintptr_t(GetCurrentThreadId()));
    HANDLE helper = CreateThread(nullptr, 0, close_from_outside, main_thread, 0, nullptr);
    run_window_mode(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    WaitForSingleObject(helper, INFINITE);
    CloseHandle(helper);
    ASSERT_NE(closed_window, nullptr);
    EXPECT_FALSE(IsWindow(closed_window));
    EXPECT_EQ(main_window, nullptr);
    // The loop ended on the close itself, so the helper's later message is still waiting.
    EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
}

// A close from the task bar during a drop, sent from another thread once the first file is
// cleaned: the program ends, but only after the batch has cleaned every file.
struct CloseDuringBatch {
    fs::path folder;
    std::vector<fs::path> files;
    Bytes cleaned_bytes;
    size_t cleaned_at_close = 0;
};

static size_t count_cleaned(const CloseDuringBatch& run) {
    return size_t(std::count_if(run.files.begin(), run.files.end(),
                                [&run](const fs::path& f) { return read_file(f) == run.cleaned_bytes; }));
}

// Told by the size alone while the batch runs: a file open for reading would be skipped.
static size_t count_shrunk(const CloseDuringBatch& run) {
    return size_t(std::count_if(run.files.begin(), run.files.end(),
                                [&run](const fs::path& f) { return fs::file_size(f) == run.cleaned_bytes.size(); }));
}

static DWORD WINAPI drop_then_close(LPVOID context) {
    auto* run = static_cast<CloseDuringBatch*>(context);
    HWND window = nullptr;
    for (int i = 0; i < 500 && !(window && IsWindowVisible(window)); i++, Sleep(10)) window = FindWindowA("XXXRES", "brinq");
    if (!window) return 1;
    std::vector<std::string> paths = {(run->folder / "photos").string()};
    PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(make_drop(paths)), 0);
    for (int i = 0; i < 20000 && count_shrunk(*run) == 0; i++) Sleep(1);
    run->cleaned_at_close = count_shrunk(*run);
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
}

TEST(WindowMode, ACloseDuringABatchEndsTheProgramOnceEveryFileIsCleaned) {
    CloseDuringBatch run;
    run.folder = scratch_folder();
    use_temp_folder(run.folder);
    Bytes ihdr = png_chunk("IHDR", be32(1) + be32(1) + Bytes{8, 0, 0, 0, 0});
    Bytes idat = png_chunk("IDAT", noise(300000, 17)), end = png_chunk("IEND", {});
    Bytes photo = png_signature() + ihdr + png_chunk("pHYs", filled(9, 1)) + idat + end;
    run.cleaned_bytes = png_signature() + ihdr + idat + end;
    for (int i = 0; i < 40; i++) {
        run.files.push_back(run.folder / "photos" / (std::to_string(i) + ".png"));
        fs::create_directories(run.files.back().parent_path());
        write_file(run.files.back(), photo);
    }
    quit_requested = 0;
    HANDLE helper = CreateThread(nullptr, 0, drop_then_close, &run, 0, nullptr);
    run_window_mode(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    WaitForSingleObject(helper, INFINITE);
    CloseHandle(helper);
    EXPECT_EQ(main_window, nullptr);  // the program's window is gone: it ended
    EXPECT_GT(run.cleaned_at_close, 0u);
    EXPECT_LT(run.cleaned_at_close, run.files.size()) << "the close came after the batch";
    EXPECT_EQ(count_cleaned(run), run.files.size());
    fs::remove_all(run.folder);
}
