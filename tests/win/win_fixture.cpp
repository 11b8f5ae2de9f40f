#include "tests/win/win_fixture.h"

#include "batch/batch.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>

namespace fs = std::filesystem;

// Every test cleans with this user's key where the program keeps it, as a start-up finds it,
// unless it points the key elsewhere.
class UsersKey : public testing::Environment {
    void SetUp() override {
        wchar_t local[MAX_PATH];
        DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
        ASSERT_TRUE(length > 0 && length < MAX_PATH);
        use_key_folder(fs::path(local) / "Brindlequist");
    }
};
static testing::Environment* const users_key = testing::AddGlobalTestEnvironment(new UsersKey);

static Bytes ihdr() { return png_chunk("IHDR", be32(1) + be32(1) + Bytes{8, 0, 0, 0, 0}); }

Bytes png_without_phys() {
    return png_signature() + ihdr() + png_chunk("IDAT", filled(40, 0x55)) + png_chunk("IEND", {});
}

Bytes png_with_phys() {
    return png_signature() + ihdr() + png_chunk("pHYs", filled(9, 1)) + png_chunk("IDAT", filled(40, 0x55)) +
           png_chunk("IEND", {});
}

Bytes exif_jpeg() {
    Bytes exif = jpeg_segment(0xE1, text_bytes("Exif") + Bytes{0, 0} + filled(30, 0x11));
    Bytes scan = Bytes{0xFF, 0xDA} + filled(100, 0x33) + Bytes{0xFF, 0xD9};
    return Bytes{0xFF, 0xD8} + exif + jpeg_segment(0xDB, filled(65, 0x01)) + scan;
}

Bytes cleaned_in_place(const Bytes& source) {
    Reduced reduced = reduce(source);
    return reduced.result == complete_copy && reduced.copy.size() != source.size() ? reduced.copy : source;
}

testing::AssertionResult holds(const fs::path& path, const Bytes& expected) {
    Bytes now = read_file(path);
    if (now == expected) return testing::AssertionSuccess();
    return testing::AssertionFailure() << path.string() << ": " << now.size() << " bytes, " << expected.size()
                                       << " expected";
}

FILETIME file_time(int year) {
    SYSTEMTIME system{};
    system.wYear = WORD(year);
    system.wMonth = 1;
    system.wDay = 1;
    system.wHour = 12;
    FILETIME time;
    SystemTimeToFileTime(&system, &time);
    return time;
}

void set_times(const fs::path& path, FILETIME created, FILETIME written) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, &created, nullptr, &written);
    CloseHandle(file);
}

void get_times(const fs::path& path, FILETIME* created, FILETIME* written) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    GetFileTime(file, created, nullptr, written);
    CloseHandle(file);
}

bool same_time(FILETIME a, FILETIME b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

void write_dated(const fs::path& path, const Bytes& bytes) {
    write_file(path, bytes);
    set_times(path, file_time(2001), file_time(2002));
}

bool date_kept(const fs::path& path) {
    FILETIME created, written;
    get_times(path, &created, &written);
    return same_time(written, file_time(2002));
}

void use_temp_folder(const fs::path& folder, const fs::path& other) {
    use_temp_folders(folder.wstring(), other.wstring());
}

void remove_tree(const fs::path& folder) {
    std::error_code ignored;
    fs::remove_all(fs::path(extended_path(folder.wstring())), ignored);
}

fs::path plain(const std::wstring& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
}

fs::path temp_file(int folder) { return plain(temp_folders[folder].path); }

void clean(const fs::path& path) {
    source_path = extended_path(path.wstring());
    clean_when_free();
    end_batch();
}

void use_key_folder(const fs::path& folder) {
    key_folder.clear();
    have_key();  // forgets the key held
    key_folder = extended_path(folder.wstring());
}

static uint64_t ticks(FILETIME time) { return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

Bytes interrupted_unit(const fs::path& path, const Bytes& source, const Bytes& copy) {
    std::vector<uint64_t> pieces;
    record = record_of(source, copy, &pieces);
    std::wstring full = extended_path(path.wstring());
    record.source.assign(full.begin(), full.end());
    record.creation_time = ticks(file_time(2001));
    record.last_write_time = ticks(file_time(2002));
    source_pieces = pieces;
    ensure_work_buffer(int32_t(copy.size()));
    memcpy(work_buffer.data, copy.data(), copy.size());
    Bytes sealed;
    EXPECT_TRUE(seal_record(work_buffer.data, &sealed));
    return copy + sealed;
}

// BRINQ_EXE is the build's Linux path; Wine sees the Linux root as drive Z:.
fs::path built_brinq() {
    std::string path = std::string("Z:") + BRINQ_EXE;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

static std::wstring quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

PROCESS_INFORMATION start_brinq_wide(const fs::path& folder, const std::vector<std::wstring>& arguments) {
    fs::path exe = folder / "brinq.exe";
    fs::copy_file(built_brinq(), exe, fs::copy_options::overwrite_existing);
    std::wstring command = quoted(exe.wstring());
    for (const std::wstring& argument : arguments) command += L" " + quoted(argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                   &process);
    return process;
}

// An ANSI command line reaches the program the way the system widens it.
static std::wstring widened(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(size_t(MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), int(wide.size()))));
    return wide;
}

PROCESS_INFORMATION start_brinq(const fs::path& folder, const std::vector<std::string>& arguments) {
    std::vector<std::wstring> wide;
    for (const std::string& argument : arguments) wide.push_back(widened(argument));
    return start_brinq_wide(folder, wide);
}

static DWORD wait_for_end(PROCESS_INFORMATION process) {
    if (!process.hProcess) return DWORD(-1);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

DWORD run_brinq(const fs::path& folder, const std::vector<std::string>& arguments) {
    return wait_for_end(start_brinq(folder, arguments));
}

DWORD run_brinq_wide(const fs::path& folder, const std::vector<std::wstring>& arguments) {
    return wait_for_end(start_brinq_wide(folder, arguments));
}

// Four bytes hold any UTF-16 unit in any code page (GB18030 takes four for some).
static std::string narrowed(const std::wstring& text) {
    std::string narrow(text.size() * 4, '\0');
    narrow.resize(size_t(WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), narrow.data(),
                                             int(narrow.size()), nullptr, nullptr)));
    return narrow;
}

UINT expected_code_page() {
    const char* code_page = getenv("BRINQ_CODE_PAGE");
    return code_page ? UINT(strtoul(code_page, nullptr, 10)) : 1252;
}

// Without flags, which every code page takes; a letter it lacks comes back as another one.
static std::string spelt(const std::wstring& name) {
    std::string narrow = narrowed(name);
    return widened(narrow) == name ? narrow : "";
}

ScriptName script_name(const std::wstring& name) { return {name, spelt(name)}; }

std::vector<ScriptName> names_in_scripts(const std::string& extension) {
    std::wstring wide = widened(extension);
    std::vector<std::wstring> stems = {
        L"plain",
        L"caf\u00e9",                              // café
        L"\u0141\u00f3d\u017a",                    // Łódź: 1252 has only best fits, L and z, for Ł and ź
        L"\u0444\u043e\u0442\u043e",              // фото
        L"\u0395\u0399\u039a\u039f\u039d\u0391",  // ΕΙΚΟΝΑ
        L"\u5199\u771f",                          // 写真
        L"\u8868\u30bd\u80fd",                    // 表ソ能: 95 5C, 83 5C, 94 5C in Shift-JIS
        std::wstring(80, L'\u5199'),              // 写 80 times: 240 bytes in UTF-8, 160 in Shift-JIS
        L"\uc0ac\uc9c4",                          // 사진
        L"\u56fe\u7247",                          // 图片: 图 is not in Shift-JIS
        L"\U0001F600",                            // 😀
    };
    std::vector<ScriptName> names;
    for (const std::wstring& stem : stems) names.push_back(script_name(stem + wide));
    return names;
}

std::vector<fs::path> deep_folders(const fs::path& root) {
    fs::path eight_three = root / "8.3", cyrillic = root / "cyrillic";
    for (int level = 0; level < 40; level++) eight_three /= "abcdefgh";
    while (cyrillic.wstring().size() < 1000) cyrillic /= L"\u0444\u043e\u0442\u043e\u0430\u043b\u044c\u0431\u043e\u043c";  // фотоальбом
    for (const fs::path& deep : {eight_three, cyrillic}) fs::create_directories(fs::path(extended_path(deep.wstring())));
    return {eight_three, cyrillic};
}

std::string utf8(const std::wstring& text) {
    std::string bytes(text.size() * 4, '\0');
    bytes.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), bytes.data(),
                                            int(bytes.size()), nullptr, nullptr)));
    return bytes;
}

extern "C" void* __imp_FlushFileBuffers;
static void* system_flush = __imp_FlushFileBuffers;

void hook_flushes(BOOL(WINAPI* flush)(HANDLE)) { __imp_FlushFileBuffers = reinterpret_cast<void*>(flush); }

BOOL WINAPI real_flush(HANDLE file) { return reinterpret_cast<decltype(&FlushFileBuffers)>(system_flush)(file); }

std::wstring flushed_name(HANDLE file) {
    unsigned char info[sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(wchar_t)] = {};
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(info);
    if (!GetFileInformationByHandleEx(file, FileNameInfo, name, sizeof info - sizeof(wchar_t))) return L"";
    return std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t));
}

static HANDLE held_lock;    // the test's handle of the temporary folder's mutex; kept open until let go
static HANDLE let_go;       // set when the holding thread is to end
static HANDLE lock_holder;  // the thread that owns held_lock
static bool abandon_lock;   // whether it ends without releasing

static DWORD WINAPI hold_lock(void* taken) {
    WaitForSingleObject(held_lock, INFINITE);
    SetEvent(taken);
    WaitForSingleObject(let_go, INFINITE);
    if (!abandon_lock) ReleaseMutex(held_lock);
    return 0;
}

void hold_temp_lock(PSID owner) {
    SECURITY_ATTRIBUTES* ours = private_attributes();
    SECURITY_DESCRIPTOR descriptor = *static_cast<SECURITY_DESCRIPTOR*>(ours->lpSecurityDescriptor);
    if (owner) SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
    held_lock = CreateMutexW(&attributes, FALSE, temp_lock_name(temp_folders[0].path).c_str());
    ASSERT_TRUE(held_lock);
    let_go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    lock_holder = CreateThread(nullptr, 0, hold_lock, taken, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(taken, 10000), WAIT_OBJECT_0);
    CloseHandle(taken);
}

void let_go_of_temp_lock(bool abandon) {
    abandon_lock = abandon;
    SetEvent(let_go);
    WaitForSingleObject(lock_holder, INFINITE);
    for (HANDLE* handle : {&lock_holder, &let_go, &held_lock}) {
        CloseHandle(*handle);
        *handle = nullptr;
    }
}

Bytes sealed_record(Record record, const std::vector<uint64_t>& pieces, const Bytes& copy) {
    EXPECT_TRUE(random_bytes(record.copy_nonce, nonce_bytes) && random_bytes(record.seal_nonce, nonce_bytes));
    EXPECT_TRUE(gmac(copy.data(), copy.size(), record.copy_nonce, record.copy_tag));
    Bytes bytes = record_bytes(record, pieces);
    unsigned char seal[tag_bytes];
    EXPECT_TRUE(gmac(bytes.data(), sealed_length(bytes.size()), record.seal_nonce, seal));
    put_seal(&bytes, seal);
    return bytes;
}

static std::vector<std::wstring> seen_paths;
static std::map<size_t, std::function<void()>> actions;
static HWND recorder;

static LRESULT CALLBACK recording_proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message != WM_USER) return DefWindowProcA(window, message, w, l);
    seen_paths.push_back(source_path);
    auto action = actions.find(seen_paths.size());
    if (action != actions.end()) action->second();
    return 0;
}

void start_recording() {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = recording_proc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "batch-recorder";
    RegisterClassA(&window_class);
    recorder = CreateWindowA("batch-recorder", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    for (int i = 0; i < 60; i++) PostMessageA(recorder, WM_USER, 0, 0);
    seen_paths.clear();
    actions.clear();
    source_path.clear();
}

void stop_recording() {
    MSG message;
    while (PeekMessageA(&message, recorder, 0, 0, PM_REMOVE)) {}
    DestroyWindow(recorder);
}

void at_message(size_t n, std::function<void()> action) { actions[n] = std::move(action); }

std::vector<std::string> cleaned_order() {
    std::vector<std::wstring> paths = seen_paths;
    paths.push_back(source_path);
    // A pump with no file cleaned since the last one sees the same path twice; folders and
    // missing paths pass through source_path without being cleaned.
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    std::vector<std::string> names;
    for (const std::wstring& path : paths)
        if (!path.empty() && fs::is_regular_file(plain(path))) names.push_back(utf8(name_in(path)));
    return names;
}
