// Shared by the filter fuzz targets: each input is a whole source file, cleaned the way
// clean_file cleans one, and every complete copy is checked for what cleaning promises.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "clean/clean.h"
#include "replace/record.h"

using Bytes = std::vector<uint8_t>;

// Stops the run with a message when a promise is broken; libFuzzer keeps the input.
void require(bool promise, const char* what);

// Runs reduce_source on `source`; `copy` gets the reduced copy when the result is complete_copy.
Reduction reduce_bytes(const Bytes& source, Bytes* copy);

// The promises every filter keeps for a complete copy: no longer than the source plus
// `growth`, and cleaning the copy again gives the same bytes.
void check_size_and_idempotence(const Bytes& source, const Bytes& copy, size_t growth);

uint32_t be32_at(const Bytes& bytes, size_t at);
