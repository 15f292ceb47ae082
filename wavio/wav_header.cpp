#include "wav_header.h"

namespace OWavIO {

const uint32_t kReaderSupportBitsPerSample[3] = {16, 24, 32};
const uint32_t kWriterSupportBitsPerSample[3] = {16, 24, 32};

bool wavSupportsSampleRate(unsigned int sampleRate) { return sampleRate > kMinSampleRate - 1; }

bool wavSupportsNumChannels(unsigned int numChannels) { return numChannels != 0; }

bool wavTableHasBits(const uint32_t (&table)[3], unsigned int bitsPerSample) {
    for (uint32_t b : table)
        if (b == bitsPerSample) return true;
    return false;
}

} // namespace OWavIO
