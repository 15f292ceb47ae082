// The file loop of calyx_cli: read blocks from the input WAV, enhance them
// with one engine handle and write them to the output WAV.
#ifndef CALYX_ENHANCE_FILE_H
#define CALYX_ENHANCE_FILE_H

#include <cstdio>

#include "cli_options.h"

constexpr int kExitOk = 0;
constexpr int kExitFailure = 2;

// Runs the whole file loop; reports failures as one line on `err`.
// Returns the program's exit status.
int enhanceFile(const CliOptions &options, FILE *err);

// One line naming why CX_SETUP (or CX_CREATE) refused, for engine codes 1-11.
const char *engineResultText(int code);

#endif // CALYX_ENHANCE_FILE_H
