#include "cli_options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "calyx.h"

// The engine takes block sizes below 32768 frames.
static constexpr long long kMaxBlockMagnitude = 32767;

void parseCliOptions(int argc, char **argv, CliOptions *options) {
    static const struct option kLongOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'v'},
        {"input", required_argument, nullptr, 'i'},
        {"output", required_argument, nullptr, 'o'},
        {"sample", required_argument, nullptr, 's'},
        {"intensity", required_argument, nullptr, 't'},
        {nullptr, 0, nullptr, 0},
    };
    optind = 1;
    int c;
    while ((c = getopt_long(argc, argv, "hvpi:o:s:t:", kLongOptions, nullptr)) != -1) {
        switch (c) {
        case 'v':
            options->versionRequested = true;
            break;
        case 'i':
            options->input = optarg;
            break;
        case 'o':
            options->output = optarg;
            break;
        case 's':
            options->sampleArg = optarg;
            if (!parseLeadingInt(optarg, &options->samplesPerBlock)) options->samplesPerBlock = 0;
            break;
        case 't':
            options->intensityArg = optarg;
            if (!parseLeadingFloat(optarg, &options->intensity)) options->intensity = NAN;
            break;
        default: // 'h', 'p', and '?' for unknown options or missing arguments
            options->helpRequested = true;
            break;
        }
    }
}

bool parseLeadingInt(const char *text, int32_t *value) {
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text) return false;
    if (v > INT32_MAX)
        *value = INT32_MAX;
    else if (v < INT32_MIN)
        *value = INT32_MIN;
    else
        *value = static_cast<int32_t>(v);
    return true;
}

bool parseLeadingFloat(const char *text, float *value) {
    char *end = nullptr;
    const float v = std::strtof(text, &end);
    if (end == text) return false;
    *value = v;
    return true;
}

bool validateCliOptions(const CliOptions &options, FILE *err) {
    const char *sample = options.sampleArg.c_str();
    const char *intensity = options.intensityArg.c_str();
    int32_t n = 0;
    float t = 0.0f;
    if (!options.sampleArg.empty() && !parseLeadingInt(sample, &n)) {
        std::fprintf(err, "Invalid samples per block '%s': not a number\n", sample);
        return false;
    }
    const long long blocks = options.samplesPerBlock;
    if (blocks == 0 || blocks > kMaxBlockMagnitude || blocks < -kMaxBlockMagnitude) {
        std::fprintf(err, "Invalid samples per block '%s': must be nonzero, from -%lld to %lld\n",
                     sample, kMaxBlockMagnitude, kMaxBlockMagnitude);
        return false;
    }
    if (!options.intensityArg.empty() && !parseLeadingFloat(intensity, &t)) {
        std::fprintf(err, "Invalid intensity '%s': not a number\n", intensity);
        return false;
    }
    if (!(options.intensity >= 0.0f && options.intensity <= 1.0f)) {
        std::fprintf(err, "Invalid intensity '%s': must be from 0 to 1\n", intensity);
        return false;
    }
    return true;
}

void printUsage(FILE *out, const char *programPath) {
    std::fprintf(out, "Usage: %s -i input -o output\n", programPath);
    std::fputs("\n"
               "Print help / information:\n"
               "  -h, --help      | Show help\n"
               "  -v, --version   | Show version\n"
               "Options:\n"
               "  -i, --input     | Set the input  .wav filepath\n"
               "  -o, --output    | Set the output .wav filepath\n"
               "  -s, --sample    | Set the samples per block    (Default:   480                       )\n"
               "  -t, --intensity | Set the intensity            (Default:   1.0, 0: no change ~ 1: max)\n",
               out);
}

void printVersion(FILE *out) {
    const char *version = nullptr;
    if (CX_GET_VERSION(&version) != 0 || !version) version = "";
    std::fprintf(out, "%s\n", version);
}
