// The resources linked into the program (the tests carry the same script): icons, sheet, manifest.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

static const void* resource(const char* name, LPCSTR type, DWORD* size) {
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, name, type);
    if (!found) return nullptr;
    *size = SizeofResource(self, found);
    return LockResource(LoadResource(self, found));
}

TEST(Resources, SpriteSheetFormat) {
    DWORD size = 0;
    auto* header = static_cast<const BITMAPINFOHEADER*>(resource("XXXRES_r0", MAKEINTRESOURCEA(2), &size));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->biWidth, 60);
    EXPECT_EQ(header->biHeight, 30);
    EXPECT_EQ(header->biBitCount, 8);
    EXPECT_EQ(header->biCompression, DWORD(BI_RGB));
    EXPECT_EQ(header->biClrUsed, 15u);
    auto* palette = reinterpret_cast<const RGBQUAD*>(header + 1);
    for (int i = 0; i < 15; i++) {
        EXPECT_EQ(palette[i].rgbRed, palette[i].rgbGreen) << i;
        EXPECT_EQ(palette[i].rgbGreen, palette[i].rgbBlue) << i;
    }
    // Filler: columns 57 to 59 of every row and the two rows below the pressed cells are black.
    auto* rows = reinterpret_cast<const unsigned char*>(palette + 15);  // bottom line first
    ASSERT_GE(size, sizeof *header + 15 * sizeof(RGBQUAD) + 60 * 30);
    for (int y = 0; y < 30; y++) {
        for (int x = 0; x < 60; x++) {
            bool filler = x >= 57 || y >= 28;
            const RGBQUAD& c = palette[rows[(29 - y) * 60 + x]];
            if (filler) EXPECT_EQ(c.rgbRed, 0) << x << "," << y;
            else EXPECT_NE(c.rgbRed, 0) << x << "," << y;
        }
    }
}

TEST(Resources, IconSizes) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    EXPECT_NE(LoadIconA(self, "XXXRES"), nullptr);
    for (int size : {16, 32, 48, 256}) {
        auto icon = static_cast<HICON>(LoadImageA(self, "XXXRES", IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour{};
        GetObjectA(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        EXPECT_EQ(colour.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
}

TEST(Resources, Manifest) {
    DWORD size = 0;
    auto* text = static_cast<const char*>(resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24), &size));
    ASSERT_NE(text, nullptr);
    std::string manifest(text, size);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(manifest.find(os), std::string::npos) << os;
}
