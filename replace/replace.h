// Putting a reduced copy over its source in place so that a kill or a power cut at any instant
// loses no image, and finishing at a later start what one left part-way.
//
// The steps of one replacement, and what a cut at each leaves:
//  1. take_temp: the batch's temporary file, held to no other process from its first use to the
//     batch's end. What it held before is read first: this user's sealed record is finished,
//     another's sends the batch through the other folder, anything else is stale.
//  2. the filter writes the copy over it from its start, and assembles it in the WorkBuffer.
//  3. append_record: the record after the copy, sealed with this user's key, the file's end cut
//     after it; flush. A cut before the flush returns leaves the source untouched.
//  4. write_over: the copy over the source in place, its end, its times; flush. A cut leaves any
//     mixture of old and new pieces, which the next take proves by content and finishes.
//  5. wipe_record: the record's magic wiped, unflushed: the commit. A lost wipe leaves a source
//     that proves to be the copy already, and is written again.
// A source that cannot be finished now (held, refusing writes, gone, another file) waits: its copy
// moves aside as "<name> (n)<ext>" with its record in "xtmp_7x91x4vnq.pNNN", and every take of
// the folder tries again. Whatever a record names is touched only after its seal proves it this
// user's own, its copy proves whole, and the file it names proves to be the source part-way. No
// record is written that this user's key cannot seal, and no source is touched without one; a
// failure to read or to compute a seal is never taken for a verdict on a record.
// Windows only.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "clean/clean.h"
#include "replace/record.h"

// A folder the temporary file may go in.
struct TempFolder {
    std::wstring path;  // the temporary file's full path in the \\?\ form; empty where there is no such folder
    FILE* stream;       // the temporary file, held from its take to the batch's end; null when not held
    bool blocked;       // leftovers that this process cannot clear, or another user's: not used again
    bool kept;          // the only whole image of a source stands in stream: held until the process ends
};

extern std::wstring source_path;    // the file being cleaned: a full path in the \\?\ form
extern TempFolder temp_folders[2];  // the program's folder, then the user's own folder of the program's
extern int temp_in_use;             // the one this batch cleans through
extern std::wstring key_folder;     // this user's own folder of the program's, for the key and the second temporary file; empty where there is none
extern Record record;               // the replacement in hand, or the one a take finishes
extern HANDLE source_file;          // source_path held to no other process while it is cleaned
extern bool temp_busy;              // the last clean_file found the temporary file in another process's hands

// Cleans source_path in place and puts its file times back. Where another process has the
// temporary file in hand, sets temp_busy and returns, to be called again.
void clean_file();
// The batch goes on through the other folder, where there is one: this one stayed busy.
void pass_over_temp_folder();
// What interrupted replacements left in either folder, finished where no other process has it in hand.
void finish_pending_if_free();
// At the end of a batch: the temporary files go, but one that holds the only whole image of a source.
void end_batch();
// The temporary file's two folders, each a full path; the program's first.
void use_temp_folders(const std::wstring& program_folder, const std::wstring& user_folder);
// The session-wide name of a folder's mutex: this user's, and the same for every spelling of the folder.
std::wstring temp_lock_name(const std::wstring& temp);
// The full path of `path` in the \\?\ form (\\?\UNC\ for a share), which takes any length;
// empty when the system cannot make it.
std::wstring extended_path(const std::wstring& path);
// `name` in `folder`, with one backslash between.
std::wstring joined(const std::wstring& folder, const std::wstring& name);
// The name after a path's last separator.
const wchar_t* name_in(const std::wstring& path);
// Whether a file's name is the temporary file's or a waiting record's: never input.
bool is_scratch_name(const std::wstring& path);
// Created with these, a file or folder is this user's alone, whatever its folder passes on;
// null where the user cannot be read.
SECURITY_ATTRIBUTES* private_attributes();

// Between the files of replace/.

static_assert(sizeof(wchar_t) == sizeof(char16_t), "a record's path is the system's own UTF-16");
inline const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// A path's long form, without the \\?\ prefix; the path itself where the system has none.
std::wstring long_form(const std::wstring& path);
// The folder part of a path, up to and with its last separator.
std::wstring folder_of(const std::wstring& path);
// This process's user; null when it cannot be read.
PSID this_user();
// This process's user's SID as text.
std::wstring user_sid_text();

// How a take of a folder's temporary file went.
enum Take {
    taken,       // held by this process
    busy,        // in the hands of another of this user's runs: tried again
    passed_over  // not to be used by this process: the batch goes through the other folder
};

// The temporary file of temp_in_use, or of the other folder where this one is blocked, held
// and in temp_stream; false, with temp_busy set when another process has it in hand.
bool take_temp();
// The folder's mutex taken without waiting, and let go. A mutex of that name that this user's
// brinq.exe did not make passes the folder over.
Take take_lock(int folder);
void release_lock(int folder);
// What a replacement cut short left at the folder's temporary path, open in `left`, which this
// closes: finished, or found stale. True where a new file may take the name; false where it
// stays (another user's, not to be read now), or the only whole image is kept in the folder's stream.
bool finish_temp(int folder, HANDLE left);
// The folder's waiting replacements finished where their sources can take them now.
void finish_waiting_records(int folder);
// Whether source_path waits for its replacement to be finished, or is such a waiting copy.
bool is_waiting_source();
// The recorded source and its copy at `kept` noted as waiting, or forgotten.
void note_waiting(const std::wstring& kept, bool waits);
// The copy in the folder's held temporary file, with its record, set aside to wait for its source.
void keep_waiting(int folder);
// The temporary file of a folder gone, its stream closed; false where it could not be deleted.
bool drop_temp(int folder);
// Whether source_file can take the copy: writable, and still of the size and last-write time it
// was first seen with.
bool source_replaceable();
// A stdio stream over a Windows file handle, which it then owns; null, the handle closed, on failure.
FILE* stream_of(HANDLE file, const char* mode);
HANDLE handle_of(FILE* stream);
// What became of a reduced copy that was to replace its source.
enum Replacement {
    refused,   // the source is as it was
    replaced,  // the source is the copy, on the disk
    kept       // the copy waits beside the temporary file for its source, or stays in it
};
// Puts the complete reduced copy, assembled in the WorkBuffer, over source_path.
Replacement replace_source();
// The recorded replacement finished over its source, if that file is still the source as the
// cut left it; the copy stands checked in the WorkBuffer. False while it must wait.
bool finish_source();
// The file's end set to `length`.
bool cut_at(HANDLE file, uint64_t length);
// The times the source had before cleaning, put back on it.
bool put_recorded_times(HANDLE file);

// The program's own files (the temporary file, waiting records and copies), never followed
// through a link. An existing one opened, without following a reparse point; refused
// (ERROR_CANT_ACCESS_FILE) where it is a link or has other names.
HANDLE open_scratch(const std::wstring& path, DWORD access, DWORD share);
// A new file, this user's alone, held to no other process; fails where anything has the name.
HANDLE create_scratch(const std::wstring& path);
// A new scratch file under a name of its own in the folder of `path`.
HANDLE new_scratch_beside(const std::wstring& path);
// `file`, held, renamed to `to`; only with `replace` over what stands there.
bool rename_held(HANDLE file, const std::wstring& to, bool replace);
// A held file marked to go when its handle closes.
bool delete_held(HANDLE file);
// A new scratch file renamed over `path`, replacing whatever has that name, a link included;
// where that fails, the file is deleted and its handle closed.
bool put_over(HANDLE file, const std::wstring& path);
// A scratch file that holds the copy of record, assembled in the WorkBuffer, on the disk;
// with its record after it where `with_record`.
HANDLE scratch_with_copy(const std::wstring& beside, bool with_record);
// The name gone, whatever stands there: nothing a link there points to is touched.
bool remove_scratch(const std::wstring& path);

// The record on the disk: sealed, after the copy in the temporary file or in a waiting record's
// file of its own, and read back.
enum ReadState {
    file_missing,     // nothing there
    file_unreadable,  // there, but not to be read now (held, refused, no memory): left as it is
    file_stale,       // no sound record, or its copy torn: guards nothing
    file_foreign,     // a sound record that this user's key did not seal: never touched
    file_ours         // this user's sealed record, and its copy whole in the WorkBuffer
};
// After the copy in the temporary file: the record of the replacement in hand, on the disk with the copy.
bool append_record(HANDLE file);
// The record no longer holds: the commit, once the source is on the disk, or a replacement
// given up before a byte of the source changed.
void wipe_record(HANDLE file);
// A waiting replacement's record in a new file of its own, on the disk; false when the name is taken.
bool write_waiting_record(const std::wstring& path);
// The temporary file's record and copy, into record, source_pieces and the WorkBuffer; after
// either, record.source is empty unless a whole record was read.
ReadState read_temp_record(HANDLE file);
// A waiting record's file into record and source_pieces, without its copy.
ReadState read_waiting_record(const std::wstring& path);
// A waiting copy into the WorkBuffer, checked against record; its length on disk.
ReadState read_kept_copy(const std::wstring& path, uint64_t* length);

// This user's key: made on first need, kept in key_folder; false when it cannot be had now.
bool have_key();
// GMAC of `size` bytes under the key, with a nonce never used before.
bool gmac(const unsigned char* data, uint64_t size, const unsigned char* nonce, unsigned char* tag);
// `size` random bytes from the system.
bool random_bytes(unsigned char* to, size_t size);
// Whether two tags are equal, in a time that does not tell where they differ.
bool same_tag(const unsigned char* a, const unsigned char* b);

// Whether to try again: another program held the file for a moment; about a second in all.
bool held_for_a_moment(int* tries);
bool write_at(HANDLE file, uint64_t at, const void* data, uint64_t size);
bool read_at(HANDLE file, uint64_t at, void* data, uint64_t size);
