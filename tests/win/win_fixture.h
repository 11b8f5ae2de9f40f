// Helpers for the tests that run under Wine: files with known times, small images, brinq.exe.
#pragma once
#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/core/fixture.h"

// A PNG of IHDR, pHYs, IDAT, IEND: cleaning drops the 21-byte pHYs chunk.
Bytes png_with_phys();
// The same PNG without pHYs: nothing to drop.
Bytes png_without_phys();
// An Exif-first JPEG: cleaning replaces the Exif segment by the 18-byte JFIF segment.
Bytes exif_jpeg();

// What cleaning `source` in place must leave: its complete reduced copy when that differs in
// size, else the source itself.
Bytes cleaned_in_place(const Bytes& source);

// Whether the file holds exactly `expected`; on failure its size and the expected size.
testing::AssertionResult holds(const std::filesystem::path& path, const Bytes& expected);

FILETIME file_time(int year);  // noon on 1 January of the year
void set_times(const std::filesystem::path& path, FILETIME created, FILETIME written);
void get_times(const std::filesystem::path& path, FILETIME* created, FILETIME* written);
bool same_time(FILETIME a, FILETIME b);
// Writes a file dated 2001 (created) and 2002 (last written), so a test can see the dates put back.
void write_dated(const std::filesystem::path& path, const Bytes& bytes);
// Whether the file is still last written in 2002.
bool date_kept(const std::filesystem::path& path);

// Points the temporary file into `folder`, so that tests running side by side never share it;
// `other` is where cleaning goes on when `folder` is busy or blocked.
void use_temp_folder(const std::filesystem::path& folder, const std::filesystem::path& other = {});
// The temporary file of a folder that use_temp_folder named: 0 the first, 1 the other.
std::filesystem::path temp_file(int folder = 0);
// Removes a folder and all in it, paths past 259 characters too.
void remove_tree(const std::filesystem::path& folder);
// A path without its \\?\ prefix, as the tests spell it.
std::filesystem::path plain(const std::wstring& path);
// Cleans `path` as a batch of its own.
void clean(const std::filesystem::path& path);
// Points the key at `folder` (a user's profile of the test's own), forgetting the one held.
void use_key_folder(const std::filesystem::path& folder);
// What a replacement of `source` at `path` by `copy` that a kill cut short leaves in the
// temporary file: the copy and its record, sealed with the key of key_folder, the source's times
// recorded as 2001 and 2002. A group's follow one another. The file at `path` is the caller's
// to make.
Bytes interrupted_unit(const std::filesystem::path& path, const Bytes& source, const Bytes& copy);

// The brinq.exe that the build made.
std::filesystem::path built_brinq();
// Copies brinq.exe into `folder` and starts it there with the arguments, ANSI ones as they
// would be typed on a command line of the code page, wide ones as the shell passes any name.
PROCESS_INFORMATION start_brinq(const std::filesystem::path& folder, const std::vector<std::string>& arguments);
PROCESS_INFORMATION start_brinq_wide(const std::filesystem::path& folder, const std::vector<std::wstring>& arguments);
// The same, waiting for its end; its exit code.
DWORD run_brinq(const std::filesystem::path& folder, const std::vector<std::string>& arguments);
DWORD run_brinq_wide(const std::filesystem::path& folder, const std::vector<std::wstring>& arguments);

// The ANSI code page this run of the tests is for: BRINQ_CODE_PAGE, which also picks the Wine
// prefix and locale that the run gets (scripts/wine-test.sh), else 1252.
UINT expected_code_page();

// One image's file name in several scripts: ASCII, accents, Cyrillic, Greek, Japanese (with
// 0x5C trail bytes in Shift-JIS, and one long enough that its UTF-8 path overflows a path
// buffer), Korean, Chinese, an emoji. Which of them the code page spells is worked out by the
// system's own round trip, so the same tests run under every code page.
struct ScriptName {
    std::wstring name;
    std::string ansi;  // its spelling in the process's code page; empty where there is none
};
std::vector<ScriptName> names_in_scripts(const std::string& extension);
ScriptName script_name(const std::wstring& name);
// Two folders inside `root` whose paths pass the old limit of 259 characters: 40 levels of 8.3
// names, which a short form makes no shorter, and about 1,000 characters of Cyrillic names.
// Under Wine every path must stay below Linux's 4,096 bytes.
std::vector<std::filesystem::path> deep_folders(const std::filesystem::path& root);
// UTF-8 of a name, as cleaned_order gives names.
std::string utf8(const std::wstring& text);

// A record laid out as on the disk and sealed with the key of key_folder, over `copy`'s bytes:
// what this user's program would seal, whatever it holds.
Bytes sealed_record(Record record, const std::vector<uint64_t>& pieces, const Bytes& copy);

// The program's flushes, through its own binding of FlushFileBuffers, go to `flush` until it is
// hooked back to real_flush, the system's; flushed_name tells the file a handle has open.
void hook_flushes(BOOL(WINAPI* flush)(HANDLE));
BOOL WINAPI real_flush(HANDLE file);
std::wstring flushed_name(HANDLE file);

// Takes the first temporary folder's mutex on a thread of its own and keeps it, as this user's
// brinq.exe busy with a file would, or, given another `owner`, as another account that made it
// first; let_go_of_temp_lock releases it, or ends the thread still owning it (the mutex is then
// abandoned, as when its holder was killed).
void hold_temp_lock(PSID owner = nullptr);
void let_go_of_temp_lock(bool abandon);

// Every pump of a batch dispatches one message to a recorder window, just before the stop
// test and before source_path takes the next file: what it sees there tells the order in
// which the files went to clean_file, and lets a test act in the middle of a batch.
void start_recording();
void stop_recording();
// Runs `action` when the recorder receives its n-th message (1 for the first pump).
void at_message(size_t n, std::function<void()> action);
// File names, in UTF-8, in the order they were handed to clean_file (call after the batch).
std::vector<std::string> cleaned_order();
