/* The network graph: one call of `model` turns one frame's 32 band features
 * and 96-bin complex spectrum into 32 band gains and the 5-tap complex
 * deep-filter coefficients of those 96 bins.
 *
 * The network state is caller-owned (the stream processor allocates it):
 * three ring positions followed by 51 dtype_t buffers, each 64-byte aligned,
 * with the sizes listed in CALYX_MODEL_STATE_BUFFERS. The first six buffers
 * (rings and recurrent states) and the three positions are the network's
 * whole memory and must be zeroed before the first frame; the others are
 * workspace, rewritten every frame before they are read. Plain C. */
#ifndef CALYX_NN_MODEL_H
#define CALYX_NN_MODEL_H

#include <stdint.h>

#include "nn_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* X(member, floats) for the 51 buffers of model_state, in layout order.
 * The first CALYX_MODEL_STATE_PERSISTENT entries persist between frames. */
#define CALYX_MODEL_STATE_BUFFERS(X) \
    X(band_ring, 64)          /* 2 past frames x 32 bands */ \
    X(spec_ring, 384)         /* 2 past frames x 2 x 96 bins */ \
    X(df_ring, 24576)         /* 4 past frames x 64 x 96 bins */ \
    X(emb_gru_state, 256)     /* one-layer GRU */ \
    X(gain_gru_state, 512)    /* two-layer GRU of the gain decoder */ \
    X(df_gru_state, 512)      /* two-layer GRU of the deep-filter decoder */ \
    X(conv_scratch, 96) \
    X(band_window, 96)        /* [1][3][32] */ \
    X(e0, 2048)               /* [64][32] */ \
    X(e1_dw, 1024)            /* [64][16] */ \
    X(e1, 1024) \
    X(e2_dw, 512)             /* [64][8] */ \
    X(e2, 512) \
    X(e3_dw, 512) \
    X(e3, 512) \
    X(spec_window, 576)       /* [2][3][96] */ \
    X(c0_dw, 6144)            /* [64][96] */ \
    X(c0, 6144) \
    X(c1_dw, 3072)            /* [64][48] */ \
    X(c1, 3072) \
    X(c1_flat, 3072)          /* bin-major */ \
    X(c_emb, 512) \
    X(emb_cat, 1024) \
    X(emb, 256) \
    X(emb_out, 256) \
    X(gain_in, 256) \
    X(gain_gru_out, 256) \
    X(gain_emb, 512) \
    X(d3, 512)                /* [64][8] */ \
    X(d3_dw, 512) \
    X(d3_main, 512) \
    X(d2_skip, 512) \
    X(d2_up, 1024)            /* [64][16] */ \
    X(d2_main, 1024) \
    X(d1_skip, 1024) \
    X(d1_up, 2048)            /* [64][32] */ \
    X(d1_main, 2048) \
    X(d0_skip, 2048) \
    X(df_in, 256) \
    X(df_gru_out, 512)        /* 256 used */ \
    X(df_lin, 960) \
    X(df_window, 30720)       /* [64][5][96] */ \
    X(df_conv1, 960)          /* [10][96] */ \
    X(df_conv2, 960) \
    X(lin_scratch_0, 64) \
    X(lin_scratch_1, 32) \
    X(lin_scratch_2, 32) \
    X(lin_scratch_3, 64) \
    X(lin_scratch_4, 32) \
    X(lin_scratch_5, 128) \
    X(gru_scratch, 256)

#define CALYX_MODEL_STATE_BUFFER_COUNT 51
#define CALYX_MODEL_STATE_PERSISTENT 6

#define CALYX_MODEL_STATE_MEMBER_(name, floats) dtype_t *name;
typedef struct model_state {
    uint32_t band_window_pos;  /* ring position of the band-feature window */
    uint32_t spec_window_pos;  /* ring position of the spectrum window */
    uint32_t df_window_pos;    /* ring position of the deep-filter window */
    CALYX_MODEL_STATE_BUFFERS(CALYX_MODEL_STATE_MEMBER_)
} model_state;
#undef CALYX_MODEL_STATE_MEMBER_

/* One frame of the network.
 * band_features: 32 values; spec_features: 192 values (96 real parts, then
 * 96 imaginary parts); band_gains (out): 32 values in [0, 1];
 * df_coefs (out): 960 values, [tap 5][bin 96][re, im].
 * params: the 90-record table of params.h, read only. */
void model(const dtype_t *band_features, const dtype_t *spec_features,
           dtype_t *band_gains, dtype_t *df_coefs,
           const param_record *params, model_state *state);

/* The stages of `model`, in call order; `model` runs the joint-embedding
 * steps of encoder_03 inline between the encoders and the decoders. */
void encoder_01(const dtype_t *band_features, const param_record *params, model_state *state);
void encoder_02(const dtype_t *spec_features, const param_record *params, model_state *state);
void encoder_03(const param_record *params, model_state *state);
void decoder_01(dtype_t *band_gains, const param_record *params, model_state *state);
void decoder_02(dtype_t *df_coefs, const param_record *params, model_state *state);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_NN_MODEL_H */
