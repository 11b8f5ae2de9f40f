// The resources linked into the program (the tests carry the same script).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/win/win_fixture.h"
#include "ui/ui.h"

TEST(Resources, SpriteSheetIconsManifest) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC sheet = FindResourceA(self, "XXXRES_r0", MAKEINTRESOURCEA(2));
    ASSERT_NE(sheet, nullptr);
    auto* info = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(self, sheet)));
    EXPECT_EQ(std::vector<LONG>({info->biWidth, info->biHeight, info->biBitCount, LONG(info->biCompression),
                                 LONG(info->biClrUsed)}), std::vector<LONG>({60, 30, 8, BI_RGB, 15}));
    auto* palette = reinterpret_cast<const RGBQUAD*>(info + 1);
    auto* rows = reinterpret_cast<const unsigned char*>(palette + 15);  // bottom line first
    for (int y = 0; y < 30; y++)
        for (int x = 0; x < 60; x++)
            EXPECT_EQ(palette[rows[(29 - y) * 60 + x]].rgbRed == 0, x >= 57 || y >= 28) << "filler " << x << "," << y;
    for (int size : {16, 32, 48, 256}) {
        auto icon = static_cast<HICON>(LoadImageA(self, "XXXRES", IMAGE_ICON, size, size, 0));
        ICONINFO parts{};
        ASSERT_TRUE(icon && GetIconInfo(icon, &parts)) << size;
        BITMAP colour{};
        GetObjectA(parts.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        DeleteObject(parts.hbmColor);
        DeleteObject(parts.hbmMask);
        DestroyIcon(icon);
    }
    HRSRC manifest = FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(manifest, nullptr);
    std::string text(static_cast<const char*>(LockResource(LoadResource(self, manifest))), SizeofResource(self, manifest));
    for (const char* part : {"level=\"asInvoker\"", "e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd",
                             "4a2f28e3-53b9-4441", "1f676c76-80e1-4239", "8e0f7a12-bfb3-4fe8"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

static std::wstring version_string(const std::vector<char>& info, const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) return L"";
    return std::wstring(value, length > 0 ? length - 1 : 0);
}

static std::wstring wide_ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// What the file's properties show, read from brinq.exe as the system reads it, against what
// the about screen says.
TEST(Resources, VersionOfTheBuiltProgram) {
    std::wstring exe = built_brinq().wstring();
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), nullptr);
    ASSERT_NE(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));
    std::string title = about_lines[0].text;  // "Brindlequist    ver c1.1"
    std::string product = title.substr(0, title.find(' '));
    std::string version = title.substr(title.find("ver ") + 4);
    EXPECT_EQ(version_string(info, L"ProductName"), wide_ascii(product));
    EXPECT_EQ(version_string(info, L"FileVersion"), wide_ascii(version));
    EXPECT_EQ(version_string(info, L"ProductVersion"), wide_ascii(version));
    EXPECT_EQ(version_string(info, L"LegalCopyright"), wide_ascii(about_lines[1].text));
    EXPECT_EQ(version_string(info, L"OriginalFilename"), built_brinq().filename().wstring());
    EXPECT_NE(version_string(info, L"FileDescription").find(L"PNG"), std::wstring::npos);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    // "c1.1": major and minor from the digits, the rest zero.
    size_t dot = version.find('.');
    DWORD major = DWORD(std::stoul(version.substr(1, dot - 1))), minor = DWORD(std::stoul(version.substr(dot + 1)));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(minor, major));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(minor, major));
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));
}
