// Command-line options of calyx_cli and the texts it prints about them.
#ifndef CALYX_CLI_OPTIONS_H
#define CALYX_CLI_OPTIONS_H

#include <cstdint>
#include <cstdio>
#include <string>

struct CliOptions {
    std::string input;
    std::string output;
    int32_t samplesPerBlock = 480; // negative: random block sizes 1..|n|
    float intensity = 1.0f;        // 0: no change ... 1: full effect
    bool helpRequested = false;
    bool versionRequested = false;
    // Last -s / -t argument as given, kept for validation after parsing.
    std::string sampleArg;
    std::string intensityArg;
};

// Parses argv with getopt_long ("hvpi:o:s:t:"); unknown options and missing
// arguments set helpRequested after getopt_long's own diagnostic.
void parseCliOptions(int argc, char **argv, CliOptions *options);

// Leading base-10 integer of `text`; false when it does not begin with one.
// Values beyond the 32-bit range come back clamped to it.
bool parseLeadingInt(const char *text, int32_t *value);
// Leading floating-point number of `text`; false when it does not begin with one.
bool parseLeadingFloat(const char *text, float *value);

// Checks -s and -t before any file is touched. On a bad value writes one line
// naming it to `err` and returns false.
bool validateCliOptions(const CliOptions &options, FILE *err);

void printUsage(FILE *out, const char *programPath);
void printVersion(FILE *out);

#endif // CALYX_CLI_OPTIONS_H
