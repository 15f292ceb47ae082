// calyx_cli as a program: texts, exit statuses, block counting, random block
// mode and refusals. Runs the built binary on WAV files made here; asserts
// nothing about the enhanced samples themselves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>

#include "wavio/wav_test_util.h"
#include "wavio/wav_reader.h"
#include "wavio/wav_writer.h"

using namespace wavtest;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class CliTest : public testing::Test {
protected:
    Result run(const std::vector<std::string> &args) {
        const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
        std::string cmd = quote(CALYX_CLI_PATH);
#ifdef CALYX_CLI_EMULATOR
        cmd = std::string(CALYX_CLI_EMULATOR) + " " + cmd;
#endif
        for (const std::string &a : args) cmd += " " + quote(a);
        cmd += " >" + quote(out) + " 2>" + quote(err) + " </dev/null";
        Result r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        const Bytes o = readFile(out), e = readFile(err);
        r.out.assign(o.begin(), o.end());
        r.err.assign(e.begin(), e.end());
        return r;
    }

    // A seeded noise file of `frames` frames.
    std::string makeWav(const std::string &name, unsigned rate, unsigned short ch,
                        unsigned short bits, size_t frames) {
        const std::string path = dir.file(name);
        std::mt19937 rng(frames * 31 + ch);
        std::uniform_real_distribution<float> dist(-0.3f, 0.3f);
        std::vector<float> s(frames * ch);
        for (float &v : s) v = dist(rng);
        OWavIO::OWavWriter w;
        EXPECT_EQ(1u, w.createWavWriter(path.c_str(), rate, ch, bits));
        EXPECT_EQ(1u, w.writeAudioSamples(s.data(), s.size()));
        EXPECT_EQ(1u, w.closeWavWriter());
        return path;
    }

    struct Info { unsigned rate = 0, ch = 0, bits = 0; unsigned long long frames = 0; };
    static Info inspect(const std::string &path) {
        OWavIO::OWavReader r;
        Info i;
        unsigned long long len = 0;
        EXPECT_EQ(1u, r.createWavReader(path.c_str(), &len)) << path;
        i.rate = r.getSampleRate();
        i.ch = r.getNumChannels();
        i.bits = r.getBitsPerSample();
        if (i.ch && i.bits) i.frames = len / (i.ch * (i.bits / 8));
        return i;
    }

    static std::string usage(const std::string &program) {
        return "Usage: " + program + " -i input -o output\n"
               "\n"
               "Print help / information:\n"
               "  -h, --help      | Show help\n"
               "  -v, --version   | Show version\n"
               "Options:\n"
               "  -i, --input     | Set the input  .wav filepath\n"
               "  -o, --output    | Set the output .wav filepath\n"
               "  -s, --sample    | Set the samples per block    (Default:   480                       )\n"
               "  -t, --intensity | Set the intensity            (Default:   1.0, 0: no change ~ 1: max)\n";
    }

    static size_t lines(const std::string &s) { return size_t(std::count(s.begin(), s.end(), '\n')); }

    TempDir dir;
};

TEST_F(CliTest, UsageTextAndExitZero) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"-h"}, {"--help"}, {"-p"}, {"-i", "in.wav"}, {"-o", "out.wav"},
        {"-i", "in.wav", "-o", "out.wav", "-p"}, {"-s", "480", "-t", "0.5"},
    };
    for (const auto &args : cases) {
        const Result r = run(args);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(usage(CALYX_CLI_PATH), r.out);
        EXPECT_EQ("", r.err);
    }
    EXPECT_FALSE(fileExists("out.wav"));
}

TEST_F(CliTest, UnknownOptionOrMissingArgumentShowsUsage) {
    for (const auto &args : std::vector<std::vector<std::string>>{{"-x"}, {"--bogus"}, {"-i"}}) {
        const Result r = run(args);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(usage(CALYX_CLI_PATH), r.out);
        EXPECT_NE("", r.err); // getopt_long's own diagnostic
    }
}

TEST_F(CliTest, VersionWinsOverEverything) {
    const std::string in = makeWav("in.wav", 48000, 1, 16, 480);
    const std::string out = dir.file("out.wav");
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"-v"}, {"--version"}, {"-h", "-v"}, {"-v", "-i", in, "-o", out}}) {
        const Result r = run(args);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("v1.1.2 (fefed85)\n", r.out);
        EXPECT_EQ("", r.err);
    }
    EXPECT_FALSE(fileExists(out));
}

TEST_F(CliTest, FixedBlocksRoundTheLengthUpToWholeBlocks) {
    struct Case { unsigned short ch, bits; size_t frames; std::vector<std::string> extra; size_t want; };
    const Case cases[] = {
        {1, 16, 1000, {"-s", "480"}, 1440},
        {1, 24, 1000, {}, 1440},
        {2, 32, 1000, {"--sample", "480"}, 1440},
        {1, 16, 3 * 480, {}, 3 * 480},      // exact multiple: no extra block
        {2, 16, 1000, {"-s", "100"}, 1000},
        {1, 16, 1000, {"-s", "100", "-s", "480"}, 1440}, // last value wins
        {1, 16, 1000, {"-s", "480frames"}, 1440},         // leading number
        {1, 24, 700, {"-s", "256", "-t", "0"}, 768},
        {1, 16, 700, {"-t", "0.25"}, 960},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << n++);
        const std::string in = makeWav("in.wav", 48000, c.ch, c.bits, c.frames);
        const std::string out = dir.file("out.wav");
        std::vector<std::string> args = {"-i", in, "-o", out};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Result r = run(args);
        ASSERT_EQ(0, r.status) << r.err;
        EXPECT_EQ("", r.out);
        EXPECT_EQ("", r.err);
        const Info i = inspect(out);
        EXPECT_EQ(48000u, i.rate);
        EXPECT_EQ(c.ch, i.ch);
        EXPECT_EQ(c.bits, i.bits);
        EXPECT_EQ(c.want, i.frames);
    }
}

TEST_F(CliTest, RandomBlocksAreSeededAndRepeatable) {
    const size_t frames = 2000;
    const std::string in = makeWav("in.wav", 48000, 2, 16, frames);
    const std::string a = dir.file("a.wav"), b = dir.file("b.wav");
    ASSERT_EQ(0, run({"-i", in, "-o", a, "-s", "-100"}).status);
    ASSERT_EQ(0, run({"-i", in, "-o", b, "--sample=-100"}).status);
    EXPECT_EQ(readFile(a), readFile(b));
    // Block sizes 1..100 from MT19937 seeded with 0, until the input is used up.
    std::mt19937 gen(0);
    std::uniform_int_distribution<uint32_t> dist(1, 100);
    size_t total = 0;
    while (total < frames) total += dist(gen);
    EXPECT_EQ(total, inspect(a).frames);
    EXPECT_EQ(2u, inspect(a).ch);
}

TEST_F(CliTest, UnopenableFilesExitTwo) {
    const std::string missing = dir.file("missing.wav");
    const std::string out = dir.file("out.wav");
    Result r = run({"-i", missing, "-o", out});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("Failed to open '" + missing + "'\n", r.err);
    EXPECT_EQ("", r.out);
    EXPECT_FALSE(fileExists(out));

    const std::string in = makeWav("in.wav", 48000, 1, 16, 100);
    const std::string badOut = dir.file("no-such-dir/out.wav");
    r = run({"-i", in, "-o", badOut});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("Failed to open '" + badOut + "'\n", r.err);
}

TEST_F(CliTest, BadValuesAreRefusedBeforeAnyFileIsMade) {
    const std::string in = makeWav("in.wav", 48000, 1, 16, 500);
    const std::string out = dir.file("out.wav");
    const std::vector<std::vector<std::string>> cases = {
        {"-s", "0"}, {"-s", "abc"}, {"-s", ""}, {"-s", "32768"}, {"-s", "-32768"},
        {"-s", "99999999999"}, {"-t", "abc"}, {"-t", "1.5"}, {"-t", "-0.1"}, {"-t", "nan"},
    };
    for (const auto &extra : cases) {
        std::vector<std::string> args = {"-i", in, "-o", out};
        args.insert(args.end(), extra.begin(), extra.end());
        const Result r = run(args);
        EXPECT_EQ(2, r.status) << extra[0] << " " << extra[1];
        EXPECT_EQ(1u, lines(r.err)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("'" + extra[1] + "'")) << r.err;
        EXPECT_FALSE(fileExists(out)) << extra[1];
    }
}

TEST_F(CliTest, EngineRefusalRemovesTheOutput) {
    const std::string in = makeWav("odd.wav", 12345, 1, 16, 1000);
    const std::string out = dir.file("out.wav");
    const Result r = run({"-i", in, "-o", out});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(1u, lines(r.err)) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("12345")) << r.err;
    EXPECT_FALSE(fileExists(out));
}

TEST_F(CliTest, OutputOverTheInputIsRefused) {
    const std::string in = makeWav("in.wav", 48000, 1, 16, 1000);
    const Bytes before = readFile(in);
    const std::string alias = in.substr(0, in.rfind('/')) + "/./in.wav";
    const Result r = run({"-i", in, "-o", alias});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(1u, lines(r.err)) << r.err;
    EXPECT_EQ(before, readFile(in));
}

TEST_F(CliTest, WriteFailureExitsTwoAndSparesDevices) {
    if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string in = makeWav("long.wav", 48000, 1, 32, 48000);
    const Result r = run({"-i", in, "-o", "/dev/full"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("Failed to write '/dev/full'\n", r.err);
    struct stat st;
    ASSERT_EQ(0, stat("/dev/full", &st));
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

} // namespace
