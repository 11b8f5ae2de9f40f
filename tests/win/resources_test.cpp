// The resources linked into the program (the tests carry the same script).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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
