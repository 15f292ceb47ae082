// calyx_cli: removes background noise from one WAV file.
#include <cstdio>

#include "cli_options.h"
#include "enhance_file.h"

int main(int argc, char **argv) {
    CliOptions options;
    parseCliOptions(argc, argv, &options);
    if (options.versionRequested) {
        printVersion(stdout);
        return kExitOk;
    }
    const char *program = argc > 0 ? argv[0] : "calyx_cli";
    if (options.helpRequested || options.input.empty() || options.output.empty()) {
        printUsage(stdout, program);
        return kExitOk;
    }
    if (!validateCliOptions(options, stderr)) return kExitFailure;
    return enhanceFile(options, stderr);
}
