// The process-wide error stack: 15 entries of 100 bytes, newest first.
// A failing call site pushes the code it received; the site that reports
// to the user renders the stack as the alert's detail line.
#pragma once

#include <cstdint>
#include <string>

#include "errors/error.h"

using ErrorCode = std::int32_t;

enum { KZ710_STACK_ENTRIES = 15, KZ710_ENTRY_SIZE = 100 };

extern "C" {

extern char g_err_buf[KZ710_STACK_ENTRIES][KZ710_ENTRY_SIZE];

// Pushes one entry; a code of 0 is ignored. With a domain the entry reads
// "domain(code)", else "code" below 10000 and "module.site" from 10000 on.
void KZ710stackError(const char* domain, std::int64_t code);

}  // extern "C"

// Pushes the error and then each underlying error in turn, so the innermost
// cause is rendered first. Null does nothing.
void KZ710stackNSError(const vexa::Error* error);

// "<name> <version>: " followed by "entry, " for each entry, newest first;
// empties the stack.
std::string KZ710getErrorString();
