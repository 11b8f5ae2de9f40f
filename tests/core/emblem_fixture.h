// Emblem test helpers: records built from streams, the committed picture and record.
#pragma once
#include <string>

#include "emblem/emblem.h"
#include "tests/core/fixture.h"

std::string host_path(const std::string& path);  // under Wine: on drive Z:
Bytes le16(uint32_t v);
Bytes le32(uint32_t v);
// Header and stream in 48-byte rows whose last byte is the filler.
Bytes stored_record(uint32_t width, uint32_t height, const Bytes& stream, unsigned char filler = 0);
// res/emblem.txt as alpha values, bottom line first, and res/emblem_record.inc as bytes.
Bytes emblem_picture();
Bytes committed_record();
