// Windows-1252 text, as the program holds every text, in UTF-8 for the
// status page and the broker.
#pragma once

#include "platform/platform.h"

// Every byte as its character; 0x81, 0x8D, 0x8F, 0x90 and 0x9D, which the
// code page leaves empty, as U+FFFD.
Text Utf8FromWindows1252(const Text& text);
