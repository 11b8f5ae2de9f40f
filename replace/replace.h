// Putting reduced copies over their sources in place so that a kill or a power cut at any instant
// loses no image, and finishing at a later start what one left part-way.
//
// The steps of a group of replacements, and what a cut at each leaves:
//  1. take_temp: the batch's temporary file, held to no other process from its first use to the
//     batch's end. What it held before is read first: this user's sealed records are finished,
//     another's send the batch through the other folder, anything else is stale.
//  2. queue_replacement: each file's copy assembled in the WorkBuffer, its record sealed with
//     this user's key; the sources stay held.
//  3. commit_group: once the last group's sources are all on the disk, its last record wiped
//     (unflushed), the group's copies and records are written into the temporary file one after
//     another, its end cut after them; one flush. A cut before it returns leaves every source
//     of the group untouched.
//  4. each copy over its source in place, its end, its times; the sources flushed beside the
//     batch. A cut leaves any mixture of old and new pieces, which the next take proves by
//     content and finishes. A source counts as replaced once its flush has returned.
// A source that cannot be finished now (held, refusing writes, gone, another file) waits: its
// copy is written beside the temporary file as "<name> (n)<ext>" with its record in
// "xtmp_7x91x4vnq.pNNN", before the group's records go, and every take of the folder tries again.
// Whatever a record names is touched only after its seal proves it this user's own, its copy
// proves whole, and the file it names proves to be the source part-way. No record is written
// that this user's key cannot seal, and no source is touched without one; a failure to read or
// to compute a seal is never taken for a verdict on a record.
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
    HANDLE file;        // the temporary file, held from its take to the batch's end; null when not held
    bool blocked;       // leftovers that this process cannot clear, or another user's: not used again
    bool kept;          // the only whole image of a source stands in file: held until the process ends
};

// What became of a reduced copy that was to replace its source.
enum Replacement {
    refused,   // the source is as it was
    queued,    // its copy is to go over the source, or has, and the flush runs
    failed,    // a write or a flush over the source failed: tried once more
    replaced,  // the source is the copy, on the disk
    waiting,   // the copy waits beside the temporary file for its source
    kept       // the copy stays in the temporary file
};

// One replacement of a group.
struct Unit {
    Record record;
    std::vector<uint64_t> pieces;        // the sums of the old source's pieces
    std::vector<unsigned char> sealed;   // its record as laid out, while the copy stays in the WorkBuffer
    uint64_t at;                         // where its copy starts in the temporary file
    bool in_image;                       // the copy is gathered with the group's, not in the WorkBuffer
    HANDLE source;                       // held from the first look at it to its flush
    Replacement outcome;
    bool flushed;                        // the flush of its source returned success
    bool tagged;                         // its copy's tag, made beside the write of a large copy
};

extern std::wstring source_path;    // the file being cleaned: a full path in the \\?\ form
extern TempFolder temp_folders[2];  // the program's folder, then the user's own folder of the program's
extern int temp_in_use;             // the one this batch cleans through
extern std::wstring key_folder;     // the key's folder, the second temporary file's too; empty without a profile
extern Record record;               // the replacement in hand, or the one a take finishes
extern HANDLE source_file;          // source_path held to no other process while it is cleaned
extern bool temp_busy;              // the last clean_file found the temporary file in another process's hands
extern bool group_due;              // the queued group is full, or ends with a large copy: to commit before the next file
extern HANDLE flushes_done;         // set while no flush of a source runs; null before the first

// Cleans source_path in place and puts its file times back. Where another process has the
// temporary file in hand, sets temp_busy and returns, to be called again.
void clean_file();
// The batch goes on through the other folder, where there is one: this one stayed busy.
void pass_over_temp_folder();
// What interrupted replacements left in either folder, finished where no other process has it in hand.
void finish_pending_if_free();
// The queued replacements' copies and records on the disk with one flush, then each over its
// source, whose flush runs beside the batch; first the last group's flushes, settled.
void commit_group();
// At the end of a batch: what is queued committed, every flush waited for and settled, the
// temporary files gone, but one that holds the only whole image of a source.
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
// by this process; false, with temp_busy set when another process has it in hand.
bool take_temp();
// Whether this process holds the temporary file of temp_in_use, and may write it.
bool holds_temp();
// The folder's mutex taken without waiting, and let go. A mutex of that name that this user's
// brinq.exe did not make passes the folder over.
Take take_lock(int folder);
void release_lock(int folder);
// What replacements cut short left at the folder's temporary path, open in `left`, which this
// closes: finished, or found stale. True where a new file may take the name; false where it
// stays: another user's, not to be read now, or the only whole image of a source.
bool finish_temp(int folder, HANDLE left);
// The folder's waiting replacements finished where their sources can take them now.
void finish_waiting_records(int folder);
// Whether source_path waits for its replacement to be finished, or is such a waiting copy.
bool is_waiting_source();
// The recorded source and its copy at `kept` noted as waiting, or forgotten.
void note_waiting(const std::wstring& kept, bool waits);
// The recorded replacement's copy written beside the temporary file `temp` with its record, to
// wait for its source; false where it could not.
bool keep_waiting(const std::wstring& temp, const unsigned char* copy);
// Whether `file` is still of the recorded size and last-write time.
bool source_unchanged(HANDLE file);
// Whether source_file can take the copy: writable, and unchanged since it was first seen.
bool source_replaceable();
// A stdio stream over a Windows file handle, which it then owns; null, the handle closed, on failure.
FILE* stream_of(HANDLE file, const char* mode);

// The replacement of source_path by the copy in the WorkBuffer queued in the group, its source
// held by it; refused where it cannot be sealed or no temporary file is held.
Replacement queue_replacement();
// Whether the group holds sources, queued or flushing.
bool holds_sources();
// What is queued committed, every flush settled, and the group's memory let go.
void settle_group();
// The last group's flushes waited for, each source counted or tried again, its records wiped.
void settle_flushes();
// Each source's flush on a thread beside the batch; unit->flushed once flushes_done is set.
void flush_beside(Unit* unit);
// The tag of a copy in the WorkBuffer so; unit->tagged once flushes_done is set.
void tag_beside(Unit* unit);
void wait_for_flushes_blocking();
// The threads end, once every flush has returned.
void stop_flushing();

// Copying over a read-only, hidden or system file fails on Windows; asking first keeps that true
// wherever the file system would let the copy through (Wine run as root does). Asked by name:
// that is how Wine tells a hidden dot-file.
bool refused_by_attributes(const wchar_t* path);
// How a write over the source went.
enum Written { untouched, written, part_way };
// A copy longer than the file's `size` bytes first writes what lies past that end, so that a full
// disk refuses it before a byte of the source has changed; then the file is cut back.
Written make_room(HANDLE file, uint64_t size, const unsigned char* copy);
// The whole copy from the file's start, cut to its length, the recorded times; not flushed.
bool write_copy(HANDLE file, const unsigned char* copy);
Written write_again(HANDLE* file, const unsigned char* copy);
// The recorded replacement finished over its source, if that file is still the source as the
// cut left it. False while it must wait.
bool finish_source(const unsigned char* copy);
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
// A scratch file that holds the copy of record, on the disk.
HANDLE scratch_with_copy(const std::wstring& beside, const unsigned char* copy);
// The name gone, whatever stands there: nothing a link there points to is touched.
bool remove_scratch(const std::wstring& path);

// The record on the disk: sealed, after its copy in the temporary file or in a waiting record's
// file of its own, and read back.
enum ReadState {
    file_missing,     // nothing there
    file_unreadable,  // there, but not to be read now (held, refused, no memory): left as it is
    file_stale,       // no sound record, or its copy torn: guards nothing
    file_foreign,     // a sound record that this user's key did not seal: never touched
    file_ours         // this user's sealed record, and its copy whole
};
// The record of the replacement in hand, over `copy`, sealed and laid out as on the disk; in its
// steps, for a tag made meanwhile: the two nonces, the copy's tag, the record sealed.
bool seal_record(const unsigned char* copy, std::vector<unsigned char>* bytes);
bool draw_nonces(Record* sealed);
bool tag_copy(Record* sealed, const unsigned char* copy);
bool seal_tagged_record(std::vector<unsigned char>* bytes);
// The record that ends at `end` no longer holds: once every source of its group is on the disk,
// or its group was given up before a byte of a source changed.
void wipe_record(HANDLE file, uint64_t end);
// A waiting replacement's record in a new file of its own, on the disk; false when the name is taken.
bool write_waiting_record(const std::wstring& path, const unsigned char* copy);
// The replacement whose record ends at `end` in the temporary file, into record, source_pieces
// and the WorkBuffer; *start where its copy begins. After it and read_waiting_record,
// record.source is empty unless a whole record was read.
ReadState read_temp_unit(HANDLE file, uint64_t end, uint64_t* start);
// The copy of record at `at`, checked.
ReadState read_unit_copy(HANDLE file, uint64_t at, std::vector<unsigned char>* copy);
// A waiting record's file into record and source_pieces, without its copy.
ReadState read_waiting_record(const std::wstring& path);
// A waiting copy into the WorkBuffer, checked against record.
ReadState read_kept_copy(const std::wstring& path);
bool file_size(HANDLE file, uint64_t* size);

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
