// Severity names, time stamps, tag lists and the line format language of log targets.
//
// Line formats: "#D" time stamp, "#E" executable name, "#G" tags, "#H" memory statistics,
// "#L" severity name, "#M" message, "#T" thread id; "#" before any other character gives
// that character. Every formatter writes a terminated result that never exceeds its size.
#pragma once

#include <cstdint>

#include "TarnVellIO.h"

namespace Tarn::Logger {

// The six-character name of a severity ("  OKAY", "  WARN", " ERROR", "ALWAYS"); severities
// outside 0..3 have no name and give "     ?".
const char* VELL_CALL GetSeverityName(int32_t severity);

void VELL_CALL CaptureTime(LogTime* time);
// "2024-03-05T07:08:09.045"; the characters written, negative when cut.
int32_t VELL_CALL FormatTime(char* destination, uint32_t size, const LogTime* time);
// "2024-03-05T07-08-09", for file names.
int32_t VELL_CALL FormatFileTime(char* destination, uint32_t size, const LogTime* time);
// The codes of the set bits from bit 0 up, joined by ';' ("DBG;VEL"); empty for no tags.
void VELL_CALL FormatTags(char* destination, uint32_t size, uint32_t tagsLow, uint32_t tagsHigh);
// Expands format for record; the line always ends with exactly one newline.
void VELL_CALL FormatLine(char* destination, uint32_t size, const char* format, const LogRecord* record);

}  // namespace Tarn::Logger
