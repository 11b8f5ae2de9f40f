// Cleaning real files in place: replacement, file times, counters, and files left alone.
#include <gtest/gtest.h>

#include "batch/batch.h"
#include "tests/win/win_fixture.h"

#include <bcrypt.h>
#include <sddl.h>

#include <cctype>
#include <cwchar>
#include <set>

namespace fs = std::filesystem;

// An old source of three pieces, its much shorter copy, and the source as a kill left it: the
// copy written over its start, the old bytes after it.
static const Bytes old_bytes = png_with_phys() + noise(10000, 1), copy_bytes = png_without_phys();
static const Bytes half_written = copy_bytes + Bytes(old_bytes.begin() + copy_bytes.size(), old_bytes.end());

class CleanFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder = scratch_folder();
        other = scratch_folder();
        use_temp_folder(folder);
        use_key_folder(other / "profile");
        target_count = 0;
        changed_count = 0;
    }
    void TearDown() override {
        end_batch();
        for (const fs::path& each : {folder, other}) {
            for (const auto& entry : fs::recursive_directory_iterator(fs::path(extended_path(each.wstring()))))
                SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
            remove_tree(each);
        }
    }
    // A source with times in 2001 (created) and 2002 (written).
    fs::path source(const Bytes& bytes, const char* name = "image.png") {
        fs::path path = folder / name;
        write_file(path, bytes);
        set_times(path, file_time(2001), file_time(2002));
        return path;
    }
    bool temp_left() const { return fs::exists(temp_file()); }
    // What a replacement of image.png that a kill cut short leaves: half_written at its path,
    // the copy and its record, sealed with the key of key_folder, at the temporary path.
    fs::path interrupted() {
        fs::path path = source(half_written);
        write_file(temp_file(), interrupted_unit(path, old_bytes, copy_bytes));
        return path;
    }
    fs::path folder, other;  // the temporary file's folder, and one for the rest: the other folder, the key
};

TEST_F(CleanFile, ReplacesTheSourceWhenTheCopyIsSmaller) {
    fs::path path = source(png_with_phys());
    clean(path);
    EXPECT_EQ(read_file(path), png_without_phys());
    EXPECT_EQ(target_count, 1);
    EXPECT_EQ(changed_count, 1);
    EXPECT_FALSE(temp_left());
    EXPECT_TRUE(fs::exists(other / "profile" / "brinq.key"));  // made for the record's seal
}

TEST_F(CleanFile, PutsTheFileTimesBack) {
    fs::path path = source(png_with_phys());
    FILETIME created_before, written_before;
    get_times(path, &created_before, &written_before);
    clean(path);
    FILETIME created, written;
    get_times(path, &created, &written);
    EXPECT_EQ(changed_count, 1);
    EXPECT_TRUE(same_time(written, file_time(2002)));
    EXPECT_TRUE(same_time(created, created_before));
}

TEST_F(CleanFile, LeavesASourceWithNothingToDropInPlace) {
    fs::path path = source(png_without_phys());
    clean(path);
    EXPECT_EQ(read_file(path), png_without_phys());
    EXPECT_EQ(target_count, 1);
    EXPECT_EQ(changed_count, 0);
    FILETIME created, written;
    get_times(path, &created, &written);
    EXPECT_TRUE(same_time(written, file_time(2002)));
    EXPECT_FALSE(temp_left());
}

TEST_F(CleanFile, GivesAnExifFirstJpegTheFixedJfifSegment) {
    fs::path path = source(exif_jpeg(), "photo.jpg");
    clean(path);
    Bytes cleaned = read_file(path);
    Bytes jfif = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00,
                  0x01, 0x02, 0x01, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00};
    ASSERT_GE(cleaned.size(), jfif.size());
    EXPECT_EQ(Bytes(cleaned.begin(), cleaned.begin() + 20), jfif);
    // The Exif segment (4 + 36 bytes) gave way to the 18-byte JFIF segment.
    EXPECT_EQ(cleaned.size(), exif_jpeg().size() - 40 + 18);
    EXPECT_EQ(changed_count, 1);
}

TEST_F(CleanFile, CountsEachFileOfABatch) {
    clean(source(png_with_phys(), "a.png"));
    clean(source(png_without_phys(), "b.png"));
    clean(source(text_bytes("not an image"), "c.png"));
    EXPECT_EQ(target_count, 2);
    EXPECT_EQ(changed_count, 1);
}

TEST_F(CleanFile, SkipsASourceAnotherProgramHoldsOpen) {
    fs::path path = source(png_with_phys());
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    clean(path);
    CloseHandle(held);
    EXPECT_EQ(read_file(path), png_with_phys());
    EXPECT_EQ(target_count, 0);
}

TEST_F(CleanFile, LeavesReadOnlyHiddenAndSystemSourcesAlone) {
    for (DWORD attribute : {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
        fs::path path = source(png_with_phys(), "protected.png");
        SetFileAttributesA(path.string().c_str(), attribute);
        clean(path);
        SetFileAttributesA(path.string().c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(read_file(path), png_with_phys()) << attribute;
        EXPECT_FALSE(temp_left());
    }
    EXPECT_EQ(target_count, 3);
    EXPECT_EQ(changed_count, 0);
}

// A temporary file that another program holds may hold the only whole image of a source: it
// is left as it is, and after a second the cleaning goes on through the other folder.
TEST_F(CleanFile, NeverTakesAStaleTemporaryFileItCannotOverwriteForACopy) {
    use_temp_folder(folder, other);
    write_file(temp_file(), text_bytes("left by an earlier run"));
    HANDLE held = CreateFileW(temp_file().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    fs::path path = source(png_with_phys());
    clean(path);
    CloseHandle(held);
    EXPECT_EQ(read_file(path), png_without_phys());
    EXPECT_EQ(read_file(folder / "xtmp_7x91x4vnq.xxxx"), text_bytes("left by an earlier run"));
    EXPECT_EQ(changed_count, 1);
    EXPECT_FALSE(fs::exists(other / "xtmp_7x91x4vnq.xxxx"));
}

TEST_F(CleanFile, NeverTakesAFolderInThePlaceOfTheTemporaryFileForACopy) {
    fs::create_directory(temp_file());
    fs::path path = source(png_with_phys());
    clean(path);
    EXPECT_EQ(read_file(path), png_with_phys());
    EXPECT_EQ(target_count, 1);
    EXPECT_EQ(changed_count, 0);
    EXPECT_TRUE(fs::is_directory(temp_file()));
}

// Windows refuses to open a read-only file for writing; Wine run by root does not. Either the
// stale file goes and a new one takes the copy, or the other folder does: the source ends as
// the copy written in this run, never as the stale bytes.
TEST_F(CleanFile, TakesOnlyACopyWrittenInThisRunOverAStaleReadOnlyOne) {
    use_temp_folder(folder, other);
    Bytes stale = png_without_phys() + text_bytes("left by an earlier run");
    write_file(temp_file(), stale);
    SetFileAttributesW(temp_file().c_str(), FILE_ATTRIBUTE_READONLY);
    fs::path path = source(png_with_phys());
    clean(path);
    EXPECT_EQ(read_file(path), png_without_phys());
    EXPECT_EQ(changed_count, 1);
}

TEST_F(CleanFile, OverwritesAStaleWritableTemporaryFile) {
    write_file(temp_file(), filled(5000, 0xEE));
    fs::path path = source(png_with_phys());
    clean(path);
    EXPECT_EQ(read_file(path), png_without_phys());
    EXPECT_FALSE(temp_left());
}

TEST_F(CleanFile, LeavesUnrecognisedAndShortFilesUntouched) {
    clean(source(png_with_phys(), "first.png"));  // leaves PNG head bytes behind
    const Bytes shorts[] = {{}, {0x89}, {0x89, 'P', 'N'}, {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I'},
                            {0xFF, 0xD8, 0xFF, 0xDB, 0, 4, 1, 2}, text_bytes("GIF89a and more")};
    for (const Bytes& bytes : shorts) {
        fs::path path = source(bytes, "short.png");
        clean(path);
        EXPECT_EQ(read_file(path), bytes);
        FILETIME created, written;
        get_times(path, &created, &written);
        EXPECT_TRUE(same_time(written, file_time(2002)));
    }
    EXPECT_EQ(target_count, 3);  // the first PNG, and the JPEGs cut in their first segment and clean already
}

// A copy that another program holds cannot be read, and proves nothing: the copy and the source
// stay as they are, the next file goes through the other folder, and a later start finishes it.
TEST_F(CleanFile, ACopyThatCannotBeReadIsLeftForALaterStart) {
    use_temp_folder(folder, other);
    fs::path path = interrupted();
    Bytes left = read_file(temp_file());
    HANDLE held = CreateFileW(temp_file().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    fs::path next = source(png_with_phys(), "next.png");
    clean(next);
    CloseHandle(held);
    EXPECT_EQ(read_file(path), half_written);
    EXPECT_EQ(read_file(next), png_without_phys());
    EXPECT_EQ(read_file(temp_file()), left);
    finish_pending_if_free();
    EXPECT_EQ(read_file(path), copy_bytes);
    EXPECT_TRUE(date_kept(path));
    EXPECT_FALSE(temp_left());
}

// Whatever keeps a source from being finished (another program holds it, it is read-only, it
// is gone, another file stands at its path), its replacement waits beside the temporary path,
// is no input to a batch meanwhile, and is finished at the first start that can.
TEST_F(CleanFile, AReplacementThatCannotBeFinishedWaitsUntilItCan) {
    fs::path kept = folder / "image (1).png", waiting = folder / "xtmp_7x91x4vnq.p001", away = folder / "away";
    for (int why = 0; why < 4; why++) {
        fs::path path = interrupted();
        HANDLE held = why == 0 ? CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
        if (why == 1) SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        if (why == 2) fs::rename(path, away);
        if (why == 3) write_file(path, noise(old_bytes.size(), 3));
        finish_pending_if_free();
        EXPECT_EQ(read_file(kept), copy_bytes) << why;
        EXPECT_TRUE(fs::exists(waiting) && !temp_left()) << why;
        EXPECT_EQ(why == 3 ? noise(old_bytes.size(), 3) : half_written, read_file(why == 2 ? away : path)) << why;
        target_count = 0;
        clean(kept);
        EXPECT_EQ(target_count, 0) << why;
        CloseHandle(held);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (why == 2) fs::rename(away, path);
        if (why == 3) write_file(path, half_written);
        // The next take of the folder finishes it before its own file, here the source itself.
        clean(path);
        EXPECT_EQ(read_file(path), copy_bytes) << why;
        EXPECT_TRUE(date_kept(path) && !fs::exists(kept) && !fs::exists(waiting)) << why;
    }
}

// A group's records follow one another in the temporary file, each source as a cut left it:
// part-way, untouched, the copy already. Each is finished by its own proof; one whose source is
// held meanwhile waits with its own copy and record, and the others are finished all the same.
TEST_F(CleanFile, EveryRecordOfAGroupIsFinishedByItsOwnProof) {
    for (bool held : {false, true}) {
        std::vector<fs::path> paths = {source(half_written, "a.png"), source(old_bytes, "b.png"), source(copy_bytes, "c.png")};
        Bytes units;
        for (const fs::path& path : paths) units = units + interrupted_unit(path, old_bytes, copy_bytes);
        write_file(temp_file(), units);
        HANDLE holder = held ? CreateFileW(paths[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
        finish_pending_if_free();
        CloseHandle(holder);
        for (const fs::path& path : paths)
            EXPECT_EQ(read_file(path), held && path == paths[1] ? old_bytes : copy_bytes) << held << path.filename();
        EXPECT_EQ(fs::exists(folder / "b (1).png"), held);
        EXPECT_FALSE(temp_left());
        finish_pending_if_free();
        EXPECT_EQ(read_file(paths[1]), copy_bytes);
        EXPECT_TRUE(date_kept(paths[1]));
        EXPECT_FALSE(fs::exists(folder / "b (1).png") || fs::exists(folder / "xtmp_7x91x4vnq.p001"));
    }
}

// Flushes of b.png that fail, so many times.
static LONG flush_failures_left;

static BOOL WINAPI failing_flush(HANDLE file) {
    if (wcsstr(flushed_name(file).c_str(), L"\\b.png") && InterlockedDecrement(&flush_failures_left) >= 0) return FALSE;
    return real_flush(file);
}

// A source whose flush fails is written once more from the copy in the temporary file and
// flushed; one that fails again waits with its copy beside the program, while the rest of its
// group is replaced.
TEST_F(CleanFile, ASourceWhoseFlushFailsIsWrittenAgainOrWaits) {
    hook_flushes(failing_flush);
    for (LONG failures : {1, 1000}) {
        fs::path a = source(png_with_phys(), "a.png"), b = source(png_with_phys(), "b.png");
        flush_failures_left = failures;
        changed_count = 0;
        for (const fs::path& path : {a, b}) {
            source_path = extended_path(path.wstring());
            clean_file();
        }
        end_batch();
        EXPECT_EQ(read_file(a), png_without_phys());
        EXPECT_EQ(changed_count, failures == 1 ? 2 : 1);
        EXPECT_EQ(read_file(folder / "b (1).png").empty(), failures == 1);
        EXPECT_TRUE(fs::exists(folder / "xtmp_7x91x4vnq.p001") == (failures > 1) && !temp_left());
        flush_failures_left = 0;
        finish_pending_if_free();
        EXPECT_EQ(read_file(b), png_without_phys()) << failures;
        EXPECT_FALSE(fs::exists(folder / "b (1).png"));
    }
    hook_flushes(real_flush);
}

// A source whose path passes the old limit of 259 characters waits under its own name too.
TEST_F(CleanFile, ADeepSourceWaitsUnderItsOwnName) {
    fs::path path = deep_folders(other)[1] / "image.png";
    write_file(path, half_written);
    write_file(temp_file(), interrupted_unit(path, old_bytes, copy_bytes));
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    finish_pending_if_free();
    EXPECT_EQ(read_file(folder / "image (1).png"), copy_bytes);
    CloseHandle(held);
    finish_pending_if_free();
    EXPECT_EQ(read_file(path), copy_bytes);
    EXPECT_FALSE(fs::exists(folder / "image (1).png"));
}

TEST_F(CleanFile, IgnoresAMissingFile) {
    clean(folder / "missing.png");
    EXPECT_EQ(target_count, 0);
    EXPECT_FALSE(temp_left());
}

// Sparse files: only the size matters, so nothing of the gigabytes is written.
static void make_sparse_png(const fs::path& path, uint64_t size) {
    write_file(path, png_with_phys());
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = LONGLONG(size);
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
}

TEST_F(CleanFile, SkipsFilesAboveTheSizeLimit) {
    for (uint64_t size : {uint64_t(max_source_size) + 1, (uint64_t(1) << 32) + 200}) {
        fs::path path = folder / "huge.png";
        make_sparse_png(path, size);
        clean(path);
        EXPECT_EQ(fs::file_size(path), size);
        fs::remove(path);
    }
    EXPECT_EQ(target_count, 0);
}

// Inputs that once broke a promise of cleaning, one file per defect, named after it: cleaned
// in place, each ends as it was or as the complete copy that the portable core gives.
class CleanRegression : public CleanFile, public testing::WithParamInterface<std::string> {};

TEST_P(CleanRegression, EndsAsItWasOrAsTheCompleteCopy) {
    Bytes bytes = read_file(fs::path(REGRESSION_DIR) / GetParam());
    Reduced reduced = reduce(bytes);
    use_temp_folder(folder);
    fs::path path = source(bytes);
    clean(path);
    bool replaced = reduced.result == complete_copy && reduced.copy.size() != bytes.size();
    EXPECT_EQ(read_file(path), replaced ? reduced.copy : bytes);
    EXPECT_FALSE(temp_left());
}

INSTANTIATE_TEST_SUITE_P(Defects, CleanRegression, testing::ValuesIn(regression_files()), regression_name);

static int timer_calls;
static bool stop_on_third_call;
static bool lock_held;  // the test's thread holds the temporary file's mutex

// A message that arrives while clean_file waits: the third one lets the other side go, or
// stands for a press on the quit button.
static void CALLBACK on_timer(HWND, UINT, UINT_PTR, DWORD) {
    if (++timer_calls != 3) return;
    if (stop_on_third_call) {
        abort_requested = 1;
        return;
    }
    let_go_of_temp_lock(false);
    lock_held = false;
}

// Another process cleaning through the same temporary file, played by a thread of the test
// that holds the temporary file's mutex.
class CleanFileLock : public CleanFile {
protected:
    void TearDown() override {
        if (lock_held) let_go_of_temp_lock(false);
        lock_held = false;
        abort_requested = 0;
        CleanFile::TearDown();
    }
    // Cleans `path` with the mutex held and a timer message every 20 ms.
    void clean_while_held(const fs::path& path, bool stop) {
        hold_temp_lock();
        lock_held = true;
        timer_calls = 0;
        stop_on_third_call = stop;
        UINT_PTR timer = SetTimer(nullptr, 0, 20, on_timer);
        clean(path);
        KillTimer(nullptr, timer);
    }
};

TEST_F(CleanFileLock, WaitsForTheFileInHandOfAnotherProcessAndPumpsMeanwhile) {
    fs::path path = source(png_with_phys());
    clean_while_held(path, false);
    EXPECT_GE(timer_calls, 3);  // it waited, and messages went on meanwhile
    EXPECT_EQ(read_file(path), png_without_phys());
    EXPECT_EQ(changed_count, 1);
    EXPECT_FALSE(temp_left());
}

TEST_F(CleanFileLock, AStopWhileWaitingLeavesTheFileAlone) {
    fs::path path = source(png_with_phys());
    write_file(temp_file(), text_bytes("the other process's copy"));
    clean_while_held(path, true);
    EXPECT_EQ(timer_calls, 3);
    EXPECT_TRUE(abort_requested);
    EXPECT_EQ(read_file(path), png_with_phys());
    EXPECT_EQ(read_file(temp_file()), text_bytes("the other process's copy"));
    EXPECT_EQ(target_count, 0);
}

// A mutex that another of this user's runs holds for ever costs the batch about a second, then
// it goes through the other folder; one that another account made first is never waited for.
TEST_F(CleanFileLock, PassesOverAFolderWhoseMutexStaysBusyOrIsAnotherAccounts) {
    PSID another = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-21-1-2-3-1001", &another));
    for (PSID owner : {PSID(nullptr), another}) {
        fs::path here = folder / (owner ? "another's" : "ours");
        fs::create_directory(here);
        use_temp_folder(here, other);
        fs::path path = source(png_with_phys(), owner ? "b.png" : "a.png");
        hold_temp_lock(owner);
        lock_held = true;
        ULONGLONG start = GetTickCount64();
        clean(path);
        ULONGLONG waited = GetTickCount64() - start;
        EXPECT_TRUE(owner ? waited < 500 : waited >= 900 && waited < 5000) << waited;
        EXPECT_EQ(read_file(path), png_without_phys());
        let_go_of_temp_lock(false);
        lock_held = false;
    }
    EXPECT_EQ(changed_count, 2);
    LocalFree(another);
}

// Every spelling of one folder meets at one mutex: case, the \\?\ form, its short name; another
// folder has its own, and so has another user.
TEST_F(CleanFile, NamesTheMutexAfterTheFolderWhateverItsSpellingAndAfterTheUser) {
    fs::path deep = folder / "Long Folder Name";
    fs::create_directory(deep);
    wchar_t short_form[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(deep.c_str(), short_form, MAX_PATH), 0u);
    ASSERT_NE(fs::path(short_form), deep);
    std::wstring name = temp_lock_name(extended_path(deep.wstring()) + L"\\xtmp_7x91x4vnq.xxxx");
    std::wstring upper = deep.wstring();
    CharUpperW(upper.data());
    for (const std::wstring& spelling : {deep.wstring(), upper, std::wstring(short_form), extended_path(short_form)})
        EXPECT_EQ(temp_lock_name(spelling + L"\\xtmp_7x91x4vnq.xxxx"), name) << utf8(spelling);
    EXPECT_NE(temp_lock_name((folder / "xtmp_7x91x4vnq.xxxx").wstring()), name);
    EXPECT_EQ(name.rfind(L"Global\\brinq_" + user_sid_text() + L"_", 0), 0u);
}

// Records that anyone can place beside the program, and the user's own in every state a kill
// leaves: only this user's sealed record, whole, of a copy whole, within the bounds of a real
// replacement, acts; nothing another names is touched.
class PlantedRecord : public CleanFile {
protected:
    fs::path victim() {
        fs::path path = other / "report.pdf";
        write_dated(path, noise(10000, 7));
        return path;
    }
    bool victim_untouched() { return read_file(other / "report.pdf") == noise(10000, 7) && date_kept(other / "report.pdf"); }
    // The files in the temporary file's folder: nothing waits where only the sources are.
    std::set<std::string> files_beside() {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
        return names;
    }
    // The next file of a batch, cleaned: through the other folder where the first is passed over.
    void clean_next() {
        fs::path next = source(png_with_phys(), "next.png");
        clean(next);
        EXPECT_EQ(read_file(next), png_without_phys());
    }
};

// Sealed with this user's own key even, a record out of the bounds of a real replacement is
// stale: one that claims an empty source and names the report, and a waiting one whose copy's
// name climbs out of the folder to the report, so that finishing it would write the report's
// bytes over a planted file and delete the report.
TEST_F(PlantedRecord, OutOfTheBoundsOfARealReplacementTouchesNothing) {
    std::wstring report = extended_path(victim().wstring()), planted = extended_path((other / "planted.bin").wstring());
    Bytes chosen = filled(max_growth, 0x41), stolen = noise(10000, 7);
    Record empty_source{};
    empty_source.copy_length = chosen.size();
    empty_source.source.assign(report.begin(), report.end());
    write_file(temp_file(), chosen + sealed_record(empty_source, {}, chosen));
    write_file(other / "planted.bin", noise(10001, 9));
    std::vector<uint64_t> pieces;
    Record climbing = record_of(noise(10001, 9), stolen, &pieces);
    climbing.source.assign(planted.begin(), planted.end());
    std::wstring up = L"..\\" + other.filename().wstring() + L"\\report.pdf";
    climbing.kept.assign(up.begin(), up.end());
    write_file(folder / "xtmp_7x91x4vnq.p001", sealed_record(climbing, pieces, stolen));
    clean_next();
    EXPECT_TRUE(victim_untouched());
    EXPECT_EQ(read_file(other / "planted.bin"), noise(10001, 9));
    EXPECT_EQ(files_beside(), std::set<std::string>{"next.png"});
}

// Another user's key: their record stays, what it names is no input, and the batch goes through
// the other folder; that user's next run finishes it.
TEST_F(PlantedRecord, SealedWithAnotherUsersKeyIsLeftForThatUser) {
    use_temp_folder(folder, other);
    use_key_folder(other / "another user");
    fs::path path = interrupted();
    Bytes left = read_file(temp_file());
    use_key_folder(other / "profile");
    clean_next();
    clean(path);
    EXPECT_EQ(read_file(path), half_written);
    EXPECT_EQ(read_file(temp_file()), left);
    EXPECT_EQ(target_count, 1);
    use_temp_folder(folder, other);
    use_key_folder(other / "another user");
    finish_pending_if_free();
    EXPECT_EQ(read_file(path), copy_bytes);
    EXPECT_FALSE(temp_left());
}

// The key deleted after a kill: the next start makes another, under which the record is no
// user's. Where no key can be had (no profile), nothing is replaced: an interruption then could
// never be finished. A damaged key is set aside, never deleted, and a new one made.
TEST_F(PlantedRecord, WithoutItsKeyIsLeftAndWithoutAKeyNothingIsReplaced) {
    use_temp_folder(folder, other);
    fs::path path = interrupted();
    ASSERT_TRUE(fs::remove(other / "profile" / "brinq.key"));
    use_key_folder(other / "profile");
    clean_next();
    EXPECT_EQ(read_file(path), half_written);
    EXPECT_TRUE(temp_left());
    write_file(other / "no profile", {});
    use_key_folder(other / "no profile" / "Brindlequist");
    fs::path next = source(png_with_phys(), "next.png");
    changed_count = 0;
    clean(next);
    EXPECT_FALSE(have_key());
    EXPECT_EQ(read_file(next), png_with_phys());
    EXPECT_EQ(changed_count, 0);
    write_file(other / "profile" / "brinq.key", text_bytes("not a key"));
    use_key_folder(other / "profile");
    clean_next();
    EXPECT_EQ(read_file(other / "profile" / "brinq.key.1.damaged"), text_bytes("not a key"));
    EXPECT_EQ(read_file(path), half_written);
}

// A copy changed so that its checksum64 stays (three words of one lane by +d, -2d, +d) fails
// its seal: the temporary file is stale, and the source stays as the cut left it.
TEST_F(PlantedRecord, WhoseCopyWasChangedIsStale) {
    fs::path path = interrupted();
    Bytes forged = read_file(temp_file());
    for (auto [at, d] : {std::pair{0, 1}, {32, -2}, {64, 1}}) {
        uint64_t word;
        memcpy(&word, forged.data() + at, 8);
        word += uint64_t(int64_t(d) * 0x0101);
        memcpy(forged.data() + at, &word, 8);
    }
    ASSERT_EQ(checksum64(forged.data(), copy_bytes.size()), checksum64(copy_bytes.data(), copy_bytes.size()));
    write_file(temp_file(), forged);
    finish_pending_if_free();
    EXPECT_EQ(read_file(path), half_written);
    EXPECT_EQ(files_beside(), std::set<std::string>{"image.png"});
}

// The program's GMAC through its own binding of BCryptEncrypt, failing from the n-th call on,
// as a system whose cryptography fails for a while.
extern "C" void* __imp_BCryptEncrypt;
static void* real_encrypt;
static int encrypt_calls, encrypt_fails_at;

static NTSTATUS WINAPI failing_encrypt(BCRYPT_KEY_HANDLE key, PUCHAR in, ULONG in_size, void* padding, PUCHAR iv,
                                       ULONG iv_size, PUCHAR out, ULONG out_size, ULONG* done, ULONG flags) {
    if (++encrypt_calls >= encrypt_fails_at) return NTSTATUS(0xC0000001);
    return reinterpret_cast<decltype(&failing_encrypt)>(real_encrypt)(key, in, in_size, padding, iv, iv_size, out,
                                                                       out_size, done, flags);
}

static void with_failing_gmac(int n, void (*action)(const fs::path&), const fs::path& path) {
    unsigned char nonce[nonce_bytes] = {}, tag[tag_bytes];
    ASSERT_TRUE(gmac(nonce, 0, nonce, tag));  // bound: the slot holds the real function now
    real_encrypt = __imp_BCryptEncrypt;
    encrypt_calls = 0;
    encrypt_fails_at = n;
    __imp_BCryptEncrypt = reinterpret_cast<void*>(failing_encrypt);
    action(path);
    __imp_BCryptEncrypt = real_encrypt;
    use_temp_folder(temp_file().parent_path());  // a later start: the folder passed over is tried again
}

// A tag or seal that cannot be computed is no verdict, at each check: the temporary file's
// record and copy, a waiting record and its copy, a new record. Every file stays as it was, the
// source part-way is no input meanwhile, and a later start with working cryptography finishes.
TEST_F(PlantedRecord, ASealThatCannotBeComputedLeavesEveryFileAsItWas) {
    fs::path kept = folder / "image (1).png", waiting = folder / "xtmp_7x91x4vnq.p001";
    for (int fails_at : {1, 2}) {
        fs::path path = interrupted();
        Bytes left = read_file(temp_file());
        target_count = 0;
        with_failing_gmac(fails_at, clean, path);
        EXPECT_EQ(read_file(path), half_written) << fails_at;
        EXPECT_EQ(read_file(temp_file()), left) << fails_at;
        EXPECT_EQ(target_count, 0) << fails_at;
        HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        finish_pending_if_free();
        CloseHandle(held);
        Bytes record_left = read_file(waiting);
        with_failing_gmac(fails_at, clean, path);
        EXPECT_EQ(read_file(path), half_written) << fails_at;
        EXPECT_TRUE(read_file(waiting) == record_left && read_file(kept) == copy_bytes) << fails_at;
        EXPECT_EQ(target_count, 0) << fails_at;
        finish_pending_if_free();
        EXPECT_EQ(read_file(path), copy_bytes) << fails_at;
        EXPECT_EQ(files_beside(), std::set<std::string>{"image.png"}) << fails_at;
        fs::path next = source(png_with_phys(), "next.png");
        with_failing_gmac(fails_at, clean, next);
        EXPECT_EQ(read_file(next), png_with_phys()) << fails_at;
        EXPECT_EQ(changed_count, 0) << fails_at;
        fs::remove(next);
    }
}

// Whatever takes the folder next, a run that holds its mutex already or one that comes through
// another drive letter (Y: is C: once more), reads what the temporary file holds first.
TEST_F(PlantedRecord, ThisUsersIsFinishedFirstByAnyRunWhateverTheFoldersSpelling) {
    ASSERT_NE(GetFileAttributesW(L"Y:\\"), INVALID_FILE_ATTRIBUTES);
    fs::path by_y = L"Y:" + folder.wstring().substr(2);
    for (const fs::path& spelling : {folder, by_y}) {
        use_temp_folder(folder);
        fs::path path = interrupted();
        use_temp_folder(spelling);
        ASSERT_EQ(take_lock(0), taken);
        clean_next();
        release_lock(0);
        EXPECT_EQ(read_file(path), copy_bytes) << utf8(spelling.wstring());
        EXPECT_TRUE(date_kept(path));
    }
    EXPECT_NE(temp_lock_name(extended_path(by_y.wstring())), temp_lock_name(extended_path(folder.wstring())));
}

// A file for the scratch of a shared folder is made readable by this user alone: one entry,
// nothing inherited. Wine takes the list but does not enforce it: this shows what is passed.
TEST(PrivateScratch, IsThisUsersAloneAndInheritsNothing) {
    SECURITY_ATTRIBUTES* attributes = private_attributes();
    ASSERT_TRUE(attributes);
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &list, &defaulted));
    ASSERT_TRUE(present && list);
    ASSERT_EQ(list->AceCount, 1);
    ACCESS_ALLOWED_ACE* entry = nullptr;
    ASSERT_TRUE(GetAce(list, 0, reinterpret_cast<void**>(&entry)));
    EXPECT_EQ(entry->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(entry->Mask, DWORD(GENERIC_ALL));
    HANDLE token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    unsigned char user[256];
    DWORD size = sizeof user;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, size, &size));
    CloseHandle(token);
    EXPECT_TRUE(EqualSid(&entry->SidStart, reinterpret_cast<TOKEN_USER*>(user)->User.Sid));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(attributes->lpSecurityDescriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
}
