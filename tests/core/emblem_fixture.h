// Emblem test helpers: records built from streams, and the committed picture and record.
#pragma once
#include <cstdint>
#include <string>

#include "emblem/emblem.h"
#include "tests/core/fixture.h"

// A path of the build machine as the running test can open it (under Wine: drive Z:).
std::string host_path(const std::string& path);
Bytes le16(uint32_t v);
Bytes le32(uint32_t v);
// Header and stream, laid out in 48-byte rows whose last byte is the given filler.
Bytes stored_record(uint32_t width, uint32_t height, const Bytes& stream, unsigned char filler = 0);
// res/emblem.txt as alpha values, the bottom line first: the picture the stored record must give.
Bytes emblem_picture(uint32_t* width, uint32_t* height);
// The stored record of res/emblem_record.inc.
Bytes committed_record();
