#include "enhance_file.h"

#include <sys/stat.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "calyx.h"
#include "wav_reader.h"
#include "wav_writer.h"

const char *engineResultText(int code) {
    switch (code) {
    case 1: return "no engine handle";
    case 2: return "engine not set up";
    case 3: return "engine handle slot already in use";
    case 4: return "engine already set up";
    case 5: return "engine weights or memory unavailable";
    case 7: return "zero channels";
    case 8: return "input and output channel counts differ";
    case 9: return "unsupported sample rate";
    case 10: return "unsupported block size";
    case 11: return "intensity outside 0 to 1";
    default: return "unknown engine error";
    }
}

// Removes an output that must not be left behind, but only a regular file:
// a device such as /dev/null given as the output stays where it is.
static void removeOutput(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) std::remove(path.c_str());
}

// True when both paths name one existing file: creating the output would
// truncate the input before it is read.
static bool sameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

// Everything a run holds, released in reverse order of acquisition.
struct Run {
    OWavIO::OWavReader reader;
    OWavIO::OWavWriter writer;
    CX_HANDLE *engine = nullptr;
    ~Run() {
        if (engine) CX_DESTROY(&engine);
    }
    // Abandons the run: closes both files and deletes the partial output.
    int fail(const std::string &output) {
        reader.closeWavReader();
        writer.closeWavWriter();
        removeOutput(output);
        return kExitFailure;
    }
};

} // namespace

int enhanceFile(const CliOptions &options, FILE *err) {
    Run run;
    const char *input = options.input.c_str();
    const char *output = options.output.c_str();
    if (run.reader.createWavReader(input, nullptr) != OWavIO::kWavOk) {
        std::fprintf(err, "Failed to open '%s'\n", input);
        return kExitFailure;
    }
    if (sameFile(options.input, options.output)) {
        std::fprintf(err, "Refusing to overwrite the input '%s' with the output\n", input);
        return kExitFailure;
    }
    const unsigned int rate = run.reader.getSampleRate();
    const unsigned short channels = run.reader.getNumChannels();
    const unsigned short bits = run.reader.getBitsPerSample();
    if (run.writer.createWavWriter(output, rate, channels, bits) != OWavIO::kWavOk) {
        std::fprintf(err, "Failed to open '%s'\n", output);
        return kExitFailure;
    }

    const int32_t n = options.samplesPerBlock;
    const uint32_t frames = static_cast<uint32_t>(n < 0 ? -static_cast<int64_t>(n) : n);
    CX_CONFIG config;
    config.channels_in = channels;
    config.channels_out = channels;
    config.sample_rate = rate;
    config.block_size = n > 0 ? frames : 0;
    const float intensity = options.intensity;
    std::mt19937 generator(0);
    std::uniform_int_distribution<uint32_t> blockSizes(1, frames);

    std::vector<float> in(static_cast<size_t>(frames) * channels, 0.0f);
    std::vector<float> out(in.size(), 0.0f);

    int rc = CX_CREATE(&run.engine);
    if (rc == 0) rc = CX_SETUP(run.engine, &config, &intensity);
    if (rc != 0) {
        if (rc == 9)
            std::fprintf(err, "Engine setup failed: unsupported sample rate %u Hz\n", rate);
        else
            std::fprintf(err, "Engine setup failed: %s (code %d)\n", engineResultText(rc), rc);
        return run.fail(options.output);
    }

    for (;;) {
        if (n < 0) {
            const size_t k = blockSizes(generator);
            in.resize(k * channels, 0.0f);
            out.resize(k * channels, 0.0f);
        }
        const unsigned int more = run.reader.readAudioSamples(in.data(), in.size());
        rc = CX_PROCESS(run.engine, in.data(), out.data(),
                        static_cast<uint32_t>(in.size() / channels));
        if (rc != 0) {
            std::fprintf(err, "Engine processing failed: %s (code %d)\n", engineResultText(rc),
                         rc);
            return run.fail(options.output);
        }
        if (run.writer.writeAudioSamples(out.data(), out.size()) != 1) {
            std::fprintf(err, "Failed to write '%s'\n", output);
            return run.fail(options.output);
        }
        if (!more) break;
    }
    run.reader.closeWavReader();
    run.writer.closeWavWriter();
    CX_DESTROY(&run.engine);
    return kExitOk;
}
