// Group commit. The copies and sealed records of consecutive files go into the temporary file
// one after another and reach the disk with one flush; then each copy is written over its
// source, and the sources' flushes run beside the batch, all at once, while the next files are
// read. The next group is written over a group's records only once every source of it is on
// the disk: a cut at any instant leaves each record whose source may have been touched whole,
// at the file's end or before another that is.
#include "replace/replace.h"

#include <cstring>

std::vector<Unit> group;
bool group_due;

static std::vector<unsigned char> image;  // the group's small copies and their records, as in the temporary file
static std::vector<Unit> in_flight;       // the group committed last: its sources' flushes may still run
static int in_flight_folder;              // the folder whose temporary file holds their records
static bool in_flight_to_wipe;            // their records went to it, whole or in part

constexpr size_t group_files = 64;
constexpr size_t group_bytes = 8 << 20;   // of copies, gathered in image
constexpr size_t large_copy = 1 << 20;    // stays in the WorkBuffer, and ends its group

// The record of the replacement in hand: the source's full path, the copy as assembled.
static bool fill_record() {
    if (source_path.size() > max_path_units) return false;
    record.source.assign(source_path.begin(), source_path.end());
    record.kept.clear();
    record.copy_length = uint64_t(copy_size);
    memcpy(record.cut_sums, cut_sums, sizeof cut_sums);
    return source_pieces.size() == pieces_of(record.old_size);
}

// Where a unit's copy and record end in the temporary file.
static uint64_t group_end_of(const Unit& unit) { return unit.at + unit.record.copy_length + record_size(unit.record); }

// Where the copies of the group so far end.
static uint64_t group_end() { return group.empty() ? 0 : group_end_of(group.back()); }

// A large copy is tagged while it is written, when the group is committed.
Replacement queue_replacement() {
    std::vector<unsigned char> sealed;
    if (!holds_temp() || refused_by_attributes(source_path.c_str()) || !source_replaceable() || !fill_record())
        return refused;
    bool small = copy_size <= int64_t(large_copy);
    if (small ? !seal_record(work_buffer.data, &sealed) : !draw_nonces(&record)) return refused;
    Unit unit{record, source_pieces, {}, group_end(), small, source_file, refused, false, false};
    if (unit.in_image) {
        image.reserve(group_bytes + large_copy);
        image.insert(image.end(), work_buffer.data, work_buffer.data + copy_size);
        image.insert(image.end(), sealed.begin(), sealed.end());
    }
    source_file = INVALID_HANDLE_VALUE;  // held by the unit from now on
    group.push_back(std::move(unit));
    group_due = !group.back().in_image || group.size() >= group_files || image.size() >= group_bytes;
    return queued;
}

// The replacement of a unit is the one in hand.
static void take_up(const Unit& unit) {
    record = unit.record;
    source_pieces = unit.pieces;
}

static const unsigned char* copy_of(const Unit& unit) {
    return unit.in_image ? image.data() + unit.at : work_buffer.data;
}

// A large copy written while a thread beside tags it, then its record sealed.
static bool write_large(HANDLE temp, Unit& large) {
    tag_beside(&large);
    bool written = write_at(temp, large.at, work_buffer.data, large.record.copy_length);
    wait_for_flushes_blocking();
    take_up(large);
    if (!written || !large.tagged || !seal_tagged_record(&large.sealed)) return false;
    large.record = record;
    return write_at(temp, large.at + large.record.copy_length, large.sealed.data(), large.sealed.size());
}

// The group's copies and records, then the file's end after them, on the disk.
static bool write_group(HANDLE temp) {
    bool written = write_at(temp, 0, image.data(), image.size()) &&
                   (group.back().in_image || write_large(temp, group.back()));
    return written && cut_at(temp, group_end()) && FlushFileBuffers(temp);
}

// Where the copy can neither be written nor wait, it stays in the temporary file, which this
// process then holds until it ends; the other folder serves meanwhile.
static Replacement wait_or_keep(const unsigned char* copy) {
    TempFolder& temp = temp_folders[in_flight_folder];
    if (keep_waiting(temp.path, copy)) return waiting;
    temp.kept = temp.blocked = true;
    return kept;
}

// The copy over the source, flushed beside the batch; a write that fails part-way is tried once
// more, flushed at once, before the copy waits.
static void write_unit(Unit& unit) {
    take_up(unit);
    const unsigned char* copy = copy_of(unit);
    if (!source_unchanged(unit.source)) return;
    Written outcome = make_room(unit.source, record.old_size, copy);
    if (outcome == written && write_copy(unit.source, copy)) {
        unit.outcome = queued;
        flush_beside(&unit);
        return;
    }
    if (outcome == written) outcome = write_again(&unit.source, copy);
    if (outcome == written) unit.outcome = replaced;
    if (outcome == part_way) unit.outcome = wait_or_keep(copy);
}

// What each flush came to. One that failed is tried as a failed write is, with the copy read
// back from the temporary file: the WorkBuffer has gone on to other files.
static void settle_unit(Unit& unit) {
    if (unit.outcome == queued) unit.outcome = unit.flushed ? replaced : failed;
    if (unit.outcome == failed) {
        take_up(unit);
        std::vector<unsigned char> copy;
        if (read_unit_copy(temp_folders[in_flight_folder].file, unit.at, &copy) != file_ours) unit.outcome = kept;
        else if (write_again(&unit.source, copy.data()) == written) unit.outcome = replaced;
        else unit.outcome = wait_or_keep(copy.data());
    }
    if (unit.outcome == replaced) changed_count++;
    if (unit.outcome == refused && source_unchanged(unit.source)) put_recorded_times(unit.source);
    if (unit.source != INVALID_HANDLE_VALUE) CloseHandle(unit.source);
}

// Every source of the last group on the disk, or waiting; then its records go, unflushed: should
// a power cut lose that, the next take finds sources that are the copies already, and writes
// them again. A record whose copy could go nowhere stays.
void settle_flushes() {
    if (in_flight.empty()) return;
    wait_for_flushes_blocking();
    TempFolder& temp = temp_folders[in_flight_folder];
    bool kept_one = false;
    for (Unit& unit : in_flight) {
        settle_unit(unit);
        kept_one |= unit.outcome == kept;
    }
    if (kept_one) temp.kept = temp.blocked = true;
    else if (in_flight_to_wipe) wipe_record(temp.file, group_end_of(in_flight.back()));
    in_flight.clear();
}

// A group that cannot be written is given up before any source changed; what of its records
// reached the file is wiped when it settles, so that no later start finishes what was refused.
void commit_group() {
    group_due = false;
    if (group.empty()) return;
    settle_flushes();
    in_flight_folder = temp_in_use;
    in_flight_to_wipe = holds_temp();
    bool on_disk = in_flight_to_wipe && write_group(temp_folders[temp_in_use].file);
    in_flight = std::move(group);
    group.clear();
    if (on_disk)
        for (Unit& unit : in_flight) write_unit(unit);
    image.clear();
}

bool holds_sources() { return !group.empty() || !in_flight.empty(); }

void settle_group() {
    commit_group();
    settle_flushes();
    std::vector<unsigned char>().swap(image);
}
