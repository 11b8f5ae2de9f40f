// This user's key, which seals every record: a later start acts on a record only when the key
// proves it this user's own, so that no file planted beside the program, and no other user's
// record, ever steers what is written or deleted. Random, made on first need, kept in the
// user's own profile where only this user can read it.
#include "replace/replace.h"

#include <bcrypt.h>

std::wstring key_folder;

static const unsigned char key_magic[8] = {'b', 'r', 'i', 'n', 'q', 'K', '1', '\0'};
constexpr size_t key_bytes = 32;  // AES-256
constexpr size_t key_file_bytes = sizeof key_magic + key_bytes;

static std::wstring key_looked_in;  // the key_folder that key_held tells of
static bool key_held;               // gcm_key holds the key of key_looked_in
static BCRYPT_ALG_HANDLE aes;       // the provider that gcm_key was made from
static BCRYPT_KEY_HANDLE gcm_key;   // the key, for GMAC

static std::wstring key_path() { return joined(key_folder, L"brinq.key"); }

bool random_bytes(unsigned char* to, size_t size) {
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, to, ULONG(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

// A key file that cannot be read now (held, refused) is tried again at the next need; one that
// reads as no key of this program's is set aside, never deleted, for records may still need it.
enum KeyFile { key_read, key_missing, key_unreadable, key_damaged };

static KeyFile read_key(unsigned char* key) {
    int tries = 0;
    HANDLE file;
    do file = CreateFileW(key_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    while (file == INVALID_HANDLE_VALUE && held_for_a_moment(&tries));
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? key_missing : key_unreadable;
    }
    unsigned char bytes[key_file_bytes + 1];
    DWORD got = 0;
    bool read = ReadFile(file, bytes, sizeof bytes, &got, nullptr);
    CloseHandle(file);
    bool whole = read && got == key_file_bytes && memcmp(bytes, key_magic, sizeof key_magic) == 0;
    if (whole) memcpy(key, bytes + sizeof key_magic, key_bytes);
    SecureZeroMemory(bytes, sizeof bytes);
    if (!read) return key_unreadable;
    return whole ? key_read : key_damaged;
}

// Records sealed under a damaged key are another's from now on: they stay, and so does the key,
// as "brinq.key.<n>.damaged".
static bool set_aside_damaged_key() {
    for (int n = 1; n < 1000; n++) {
        std::wstring aside = key_path() + L"." + std::to_wstring(n) + L".damaged";
        if (MoveFileExW(key_path().c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

// On the disk under a name of its own first, then moved to the key's name without replacing:
// of two runs that make it at once, one key stands, and both read it.
static void make_key() {
    unsigned char bytes[key_file_bytes];
    memcpy(bytes, key_magic, sizeof key_magic);
    if (!random_bytes(bytes + sizeof key_magic, key_bytes)) return;
    CreateDirectoryW(key_folder.c_str(), private_attributes());
    std::wstring made = key_path() + L"." + std::to_wstring(GetCurrentProcessId()) + L".new";
    HANDLE file = CreateFileW(made.c_str(), GENERIC_WRITE, 0, private_attributes(), CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    bool flushed = WriteFile(file, bytes, sizeof bytes, &written, nullptr) && written == sizeof bytes &&
                   FlushFileBuffers(file);
    CloseHandle(file);
    SecureZeroMemory(bytes, sizeof bytes);
    if (!flushed || !MoveFileExW(made.c_str(), key_path().c_str(), MOVEFILE_WRITE_THROUGH)) DeleteFileW(made.c_str());
}

static bool load_key(const unsigned char* key) {
    if (!aes && !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&aes, BCRYPT_AES_ALGORITHM, nullptr, 0))) return false;
    if (gcm_key) BCryptDestroyKey(gcm_key);
    gcm_key = nullptr;
    return BCRYPT_SUCCESS(BCryptSetProperty(aes, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_GCM,
                                            sizeof BCRYPT_CHAIN_MODE_GCM, 0)) &&
           BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(aes, &gcm_key, nullptr, 0, (PUCHAR)key, key_bytes, 0));
}

// Only a key held is remembered: a key file held a moment by another program, or a profile
// that refused it, is tried again at the next file.
bool have_key() {
    if (key_held && key_looked_in == key_folder) return true;
    key_looked_in = key_folder;
    key_held = false;
    if (key_folder.empty()) return false;
    unsigned char key[key_bytes];
    KeyFile found = read_key(key);
    if (found == key_damaged && set_aside_damaged_key()) found = key_missing;
    if (found == key_missing) {
        make_key();
        found = read_key(key);
    }
    key_held = found == key_read && load_key(key);
    SecureZeroMemory(key, sizeof key);
    return key_held;
}

bool gmac(const unsigned char* data, uint64_t size, const unsigned char* nonce, unsigned char* tag) {
    if (!have_key() || size > 0xFFFFFFFFu) return false;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = const_cast<unsigned char*>(nonce);
    info.cbNonce = nonce_bytes;
    info.pbAuthData = const_cast<unsigned char*>(data);
    info.cbAuthData = ULONG(size);
    info.pbTag = tag;
    info.cbTag = tag_bytes;
    ULONG done = 0;
    return BCRYPT_SUCCESS(BCryptEncrypt(gcm_key, nullptr, 0, &info, nullptr, 0, nullptr, 0, &done, 0));
}

bool same_tag(const unsigned char* a, const unsigned char* b) {
    unsigned char differ = 0;
    for (size_t i = 0; i < tag_bytes; i++) differ |= a[i] ^ b[i];
    return differ == 0;
}
