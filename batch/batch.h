// Batches: folder sweeps, dropped lists, and the steps every batch takes between files.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "replace/replace.h"

extern std::wstring folder_path;  // the folder that sweep_folder sweeps: a full path in the \\?\ form
extern uint8_t abort_requested;   // ends a batch: Escape, or a press on the quit button
extern uint8_t batch_busy;        // a drop batch is running; later drops wait for its end
extern uint8_t quit_requested;    // quit was clicked or the session ends: no further file, waiting drops released

// clean_file, again and again while another process has the temporary file in hand, pumping
// meanwhile, until it has had its turn or the batch stops; a folder that stays busy for about a
// second is passed over for the other. A group that is due is committed after it.
void clean_when_free();
// The sources' flushes in flight waited for, the window's messages dispatched meanwhile.
void wait_for_flushes();
// The end of a batch: the group in hand committed and every flush waited for, the window
// answering meanwhile, then the temporary files gone.
void close_batch();
// Cleans the image files that lie directly in folder_path, pattern by pattern.
void sweep_folder();
// Cleans the files of folder_path that match one pattern; subfolders are passed over.
void sweep_pattern(const wchar_t* pattern);
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
