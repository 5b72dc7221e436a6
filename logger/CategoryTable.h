// The registry of three-letter category codes: bit i of a tag mask stands for entry i.
#pragma once

#include <cstdint>

#include "TarnVellIO.h"

namespace Tarn::Logger {

constexpr unsigned kCategoryCount = 64;

// Entry 17 of the table: finds or adds the code (its first three characters) and returns
// its mask, also stored through mask when given. Beyond 64 codes the mask is 0.
uint64_t VELL_CALL RegisterCategory(uint64_t* mask, const char* code);

// Copies the code of bit i ("???" when free); false for i >= 64.
bool CategoryCode(unsigned bit, char (&code)[4]);

}  // namespace Tarn::Logger
