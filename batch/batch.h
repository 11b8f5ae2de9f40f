// Batches: folder sweeps, dropped lists, and the steps every batch takes between files.
#pragma once
#include <windows.h>
#include <cstdint>

#include "clean/clean.h"

extern char folder_path[path_size];  // the folder that sweep_folder sweeps
extern uint8_t abort_requested;      // ends a batch: Escape, or a press on the quit button
extern uint8_t batch_busy;           // a drop batch is running; later drops wait for its end
extern uint8_t quit_requested;       // quit was clicked or the session ends: no further file, waiting drops released

// The flags of a conversion from UTF-16 to the code page that Windows accepts for it.
DWORD narrowing_flags(UINT code_page);
// A name the system gives in UTF-16 as the code page spells it, when it converts there and
// back unchanged and fits a path buffer; spell_ansi does it for the process's ANSI code page.
bool spell_in(UINT code_page, const wchar_t* wide, char* to);
bool spell_ansi(const wchar_t* wide, char* to);
// A path the system gives in UTF-16 as the code page spells it, else as its short form, which
// the code page always spells; false when neither is to be had.
bool ansi_path(const wchar_t* wide, char* to);
// clean_file, again and again while another process cleans through temp_path, pumping
// meanwhile, until it has had its turn or the batch stops.
void clean_when_free();
// Cleans the image files that lie directly in folder_path, pattern by pattern.
void sweep_folder();
// Cleans the files of folder_path that match one pattern; subfolders are passed over.
void sweep_pattern(const char* pattern);
// Dispatches at most one pending message of the thread.
void pump();
// Gives the processor away for one millisecond at 1 ms timer resolution.
void yield_1ms();
// Escape pressed, the quit button held or clicked, or the session ending: sets abort_requested and says so.
bool stop_requested();
// Cleans the files and folders of one drop on the window and shows the result.
void process_drop(HWND window, HDROP drop);
// Shows a file's name in the progress area of the window, if there is one, cut before the
// character that would pass 360 pixels.
void show_progress(const wchar_t* name);
