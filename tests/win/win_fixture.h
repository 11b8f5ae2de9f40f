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

FILETIME file_time(int year);  // noon on 1 January of the year
void set_times(const std::filesystem::path& path, FILETIME created, FILETIME written);
void get_times(const std::filesystem::path& path, FILETIME* created, FILETIME* written);
bool same_time(FILETIME a, FILETIME b);

// Points temp_path into `folder`, so that tests running side by side never share it.
void use_temp_folder(const std::filesystem::path& folder);
// Runs clean_file on `path` with fresh counters.
void clean(const std::filesystem::path& path);

// Copies brinq.exe into `folder` and starts it there with the arguments.
PROCESS_INFORMATION start_brinq(const std::filesystem::path& folder, const std::vector<std::string>& arguments);
// The same, waiting for its end; its exit code.
DWORD run_brinq(const std::filesystem::path& folder, const std::vector<std::string>& arguments);

// Every pump of a batch dispatches one message to a recorder window, just before the stop
// test and before source_path takes the next file: what it sees there tells the order in
// which the files went to clean_file, and lets a test act in the middle of a batch.
void start_recording();
void stop_recording();
// Runs `action` when the recorder receives its n-th message (1 for the first pump).
void at_message(size_t n, std::function<void()> action);
// File names in the order they were handed to clean_file (call after the batch).
std::vector<std::string> cleaned_order();
