// Frame processor: one hop in, one enhanced hop out. Analysis, features,
// network, band gains two frames back, deep filter, resynthesis, intensity
// blend with the delayed dry signal, resampling back and limiting.
#include "frame_processor.h"

#include <cmath>
#include <cstring>

#include "calyx_proc.h"
#include "params.h"

extern "C" const float kSpecNormFloor = 1e-8f;

namespace {

constexpr uint32_t kHop = CALYX_HOP;
constexpr uint32_t kN = CALYX_FFT_SIZE;
constexpr uint32_t kBins = CALYX_BINS;
constexpr uint32_t kBands = CALYX_ERB_BANDS;
constexpr uint32_t kDfBins = CALYX_DF_BINS;
constexpr uint32_t kDfOrder = CALYX_DF_ORDER;

// 1 / sum(window) (bits 0x3AD63E4D): keeps the spectrum at signal level.
constexpr float kAnalysisScale = 0x1.ac7c9ap-10f;
// 1 / (960 * kAnalysisScale) (bits 0x3F2324E1): undoes the analysis scale and
// the inverse transform's gain of 960; the squared window overlaps to ~1.
constexpr float kSynthesisScale = 0x1.4649c2p-1f;
// Running means: 1 % of the new value per hop.
constexpr float kNormKeep = 0.99f;    // bits 0x3F7D70A4
constexpr float kNormTake = 0.01f;    // bits 0x3C23D70A
constexpr float kErbFeatScale = 0.025f;  // bits 0x3CCCCCCD: dB above the mean / 40

// Step 2-5: slide the analysis window, window, transform, unpack.
void analyse(calyx_proc *p) {
    float *a = p->analysis;
    std::memcpy(a, a + kHop, kHop * sizeof(float));
    std::memcpy(a + kHop, p->hop_in_buf, kHop * sizeof(float));
    const float *w = p->window;
    float *fr = p->frame;
    for (uint32_t i = 0; i < kN; ++i) fr[i] = kAnalysisScale * (a[i] * w[i]);
    ovfft_transform_ordered(p->fft, fr, p->packed, p->fft_work, OVFFT_FORWARD);

    const float *pk = p->packed;
    float *s = p->spec;
    s[0] = pk[0];
    s[1] = 0.0f;
    s[2 * (kBins - 1)] = pk[1];
    s[2 * (kBins - 1) + 1] = 0.0f;
    std::memcpy(s + 2, pk + 2, (kN - 2) * sizeof(float));
}

// Step 6-9: bin powers, band levels and the two running normalisations.
void features(calyx_proc *p) {
    const float *s = p->spec;
    double *pw = p->power;
    for (uint32_t k = 0; k < kBins; ++k) {
        const float re = s[2 * k], im = s[2 * k + 1];
        pw[k] = static_cast<double>(re * re) + static_cast<double>(im * im);
    }
    erb_freq_forward(p->erb, pw, p->erb_feat);

    float *ef = p->erb_feat;
    float *en = p->erb_norm;
    for (uint32_t b = 0; b < kBands; ++b) {
        const float x = ef[b];
        const float m = kNormKeep * en[b] + kNormTake * x;
        en[b] = m;
        ef[b] = (x - m) * kErbFeatScale;
    }

    float *sn = p->spec_norm;
    float *sf = p->spec_feat;
    for (uint32_t k = 0; k < kDfBins; ++k) {
        const float mag = sqrtf(static_cast<float>(pw[k]));
        float m = kNormTake * mag + kNormKeep * sn[k];
        // Without a floor, long digital silence drives the mean towards the
        // smallest float and the division below towards infinity.
        if (!(m >= kSpecNormFloor)) m = kSpecNormFloor;
        sn[k] = m;
        const float scale = 1.0f / sqrtf(m);
        sf[k] = s[2 * k] * scale;
        sf[kDfBins + k] = s[2 * k + 1] * scale;
    }
}

// Step 10: the network, through its own element type.
void run_network(calyx_proc *p) {
    convert_float_to_dtype_t(p->erb_feat, p->model_erb_in, kBands);
    convert_float_to_dtype_t(p->spec_feat, p->model_spec_in, 2 * kDfBins);
    model(p->model_erb_in, p->model_spec_in, p->model_gains_out, p->model_df_out, p->params,
          &p->model_state);
    convert_dtype_t_to_float(p->model_gains_out, p->erb_gains, kBands);
    convert_dtype_t_to_float(p->model_df_out, p->df_coefs, kDfOrder * kDfBins * 2);
}

// Step 11: the gains computed from frame t scale the spectrum of frame t-2,
// so the network looks two frames ahead of the frame it enhances.
void apply_band_gains(calyx_proc *p) {
    float *s = p->spec;
    float *older = p->spec_delay;            // frame t-2
    float *newer = p->spec_delay + 2 * kBins;  // frame t-1
    const float *g = p->erb_gains;
    for (uint32_t k = 0; k < kBins; ++k) {
        const float *row = p->erb_matrix + k * kBands;
        float gain = 0.0f;
        for (uint32_t b = 0; b < kBands; ++b) gain += g[b] * row[b];
        const float dre = older[2 * k], dim = older[2 * k + 1];
        older[2 * k] = newer[2 * k];
        older[2 * k + 1] = newer[2 * k + 1];
        newer[2 * k] = s[2 * k];
        newer[2 * k + 1] = s[2 * k + 1];
        s[2 * k] = dre * gain;
        s[2 * k + 1] = dim * gain;
    }
}

// Step 12: five-tap complex filter across the band-gained frames, lowest bins.
void deep_filter(calyx_proc *p) {
    constexpr uint32_t kSlot = 2 * kBins;       // floats per history slot
    constexpr uint32_t kTap = 2 * kDfBins;      // floats per tap
    float *s = p->spec;
    float *hist = p->df_history;
    float *taps = p->df_taps;
    for (uint32_t j = 0; j < kDfOrder - 1; ++j)
        std::memcpy(taps + j * kTap, hist + j * kSlot, kTap * sizeof(float));
    std::memcpy(taps + (kDfOrder - 1) * kTap, s, kTap * sizeof(float));
    std::memmove(hist, hist + kSlot, 3 * kSlot * sizeof(float));
    std::memcpy(hist + 3 * kSlot, s, kSlot * sizeof(float));

    std::memset(s, 0, kTap * sizeof(float));
    const float *c = p->df_coefs;
    for (uint32_t j = 0; j < kDfOrder; ++j) {
        const float *cj = c + j * kTap;
        const float *xj = taps + j * kTap;
        for (uint32_t k = 0; k < kDfBins; ++k) {
            const float cre = cj[2 * k], cim = cj[2 * k + 1];
            const float xre = xj[2 * k], xim = xj[2 * k + 1];
            s[2 * k] += cre * xre - cim * xim;
            s[2 * k + 1] += cre * xim + cim * xre;
        }
    }
}

// Step 13-16: pack, inverse transform, window, overlap-add, emit one hop.
void synthesise(calyx_proc *p) {
    const float *s = p->spec;
    float *fr = p->frame;
    fr[0] = s[0];
    fr[1] = s[2 * (kBins - 1)];
    std::memcpy(fr + 2, s + 2, (kN - 2) * sizeof(float));
    ovfft_transform_ordered(p->fft, fr, p->packed, p->fft_work, OVFFT_BACKWARD);

    const float *pk = p->packed;
    const float *w = p->window;
    float *ov = p->overlap;
    for (uint32_t i = 0; i < kN; ++i) ov[i] += kSynthesisScale * pk[i] * w[i];
    std::memcpy(p->hop_out_buf, ov, kHop * sizeof(float));
    std::memcpy(ov, ov + kHop, kHop * sizeof(float));
    std::memset(ov + kHop, 0, kHop * sizeof(float));
}

// Step 17-19: blend with the unprocessed hop of three calls ago.
void blend_dry(calyx_proc *p) {
    std::memcpy(p->dry_delay + p->dry_pos, p->hop_in_buf, kHop * sizeof(float));
    p->dry_pos = (p->dry_pos + kHop) % (CALYX_DRY_HOPS * kHop);
    float *dry = p->dry_delay + p->dry_pos;
    gain_process_inplace(p->wet_gain, p->hop_out_buf);
    gain_process_inplace(p->dry_gain, dry);
    float *out = p->hop_out_buf;
    for (uint32_t i = 0; i < kHop; ++i) out[i] += dry[i];
}

}  // namespace

extern "C" int32_t calyx_process_inner(void *user_data, const float *input, float *output) {
    calyx_proc *p = static_cast<calyx_proc *>(user_data);
    resampler_run_external_to_internal(p->resampler, input, p->hop_in_buf);
    analyse(p);
    features(p);
    run_network(p);
    apply_band_gains(p);
    deep_filter(p);
    synthesise(p);
    blend_dry(p);
    resampler_run_internal_to_external(p->resampler, p->hop_out_buf, output);
    limiter_process_inplace(p->limiter, output);
    return 0;
}
