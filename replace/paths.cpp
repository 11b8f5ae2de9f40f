// Paths of any length, in any script, on any drive: UTF-16 throughout, each made once into the
// \\?\ form that the wide file functions take past 259 characters, and no name the program
// keeps for itself taken as input.
#include "replace/replace.h"

#include <sddl.h>

// A path already in the \\?\ form is taken as it stands: the system would drop its trailing
// dots and spaces and resolve its "..", naming another file than the one the user gave.
std::wstring extended_path(const std::wstring& path) {
    if (path.empty() || path.compare(0, 4, L"\\\\?\\") == 0) return path;
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return L"";
    std::wstring full(size, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return L"";
    full.resize(length);
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) return full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// GetLongPathNameW expands no short name behind the \\?\ prefix under Wine: asked without it.
std::wstring long_form(const std::wstring& path) {
    std::wstring plain = path;
    if (plain.compare(0, 8, L"\\\\?\\UNC\\") == 0) plain = L"\\\\" + plain.substr(8);
    else if (plain.compare(0, 4, L"\\\\?\\") == 0) plain = plain.substr(4);
    DWORD size = GetLongPathNameW(plain.c_str(), nullptr, 0);
    std::wstring spelt(size, L'\0');
    DWORD length = size ? GetLongPathNameW(plain.c_str(), &spelt[0], size) : 0;
    return length > 0 && length < size ? spelt.substr(0, length) : plain;
}

// Past the \\?\ form no separator is folded: one backslash between, never two.
std::wstring joined(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/') return folder + name;
    return folder + L"\\" + name;
}

const wchar_t* name_in(const std::wstring& path) {
    size_t separator = path.find_last_of(L"\\/");
    return path.c_str() + (separator == std::wstring::npos ? 0 : separator + 1);
}

std::wstring folder_of(const std::wstring& path) { return path.substr(0, size_t(name_in(path) - path.c_str())); }

// The temporary file, waiting records and the program's own new files all begin so.
static const wchar_t scratch_prefix[] = L"xtmp_7x91x4vnq.";

bool is_scratch_name(const std::wstring& path) {
    const wchar_t* name = name_in(path);
    int length = int(wcslen(scratch_prefix));
    return int(wcslen(name)) >= length && CompareStringOrdinal(name, length, scratch_prefix, length, TRUE) == CSTR_EQUAL;
}

// This process's user, as the token names it.
static bool read_user(std::vector<unsigned char>* sid) {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    bool read = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    if (!read) return false;
    PSID user_sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    sid->assign(static_cast<unsigned char*>(user_sid), static_cast<unsigned char*>(user_sid) + GetLengthSid(user_sid));
    return true;
}

static std::vector<unsigned char> user_sid;  // this process's user; empty when it could not be read

PSID this_user() {
    if (user_sid.empty()) read_user(&user_sid);
    return user_sid.empty() ? nullptr : user_sid.data();
}

// One entry, this user's, and the folder's own not passed on: other users of a shared folder
// or card cannot read the images and paths in the scratch files. The owner is this user too,
// not the token's default owner (an administrator's group): that is how a mutex tells this
// user's runs from anyone else's.
SECURITY_ATTRIBUTES* private_attributes() {
    static std::vector<unsigned char> acl;
    static SECURITY_DESCRIPTOR descriptor;
    static SECURITY_ATTRIBUTES attributes;
    if (!acl.empty()) return &attributes;
    PSID user = this_user();
    if (!user) return nullptr;
    std::vector<unsigned char> list(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(user));
    PACL entries = reinterpret_cast<PACL>(list.data());
    if (!InitializeAcl(entries, DWORD(list.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(entries, ACL_REVISION, GENERIC_ALL, user))
        return nullptr;
    acl = std::move(list);
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, user, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE);
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes = {sizeof attributes, &descriptor, FALSE};
    return &attributes;
}

// The user's SID as text: part of every mutex name, so that no other user's mutex orders this
// user's runs.
std::wstring user_sid_text() {
    PSID user = this_user();
    wchar_t* text = nullptr;
    if (!user || !ConvertSidToStringSidW(user, &text)) return L"nobody";
    std::wstring name = text;
    LocalFree(text);
    return name;
}
