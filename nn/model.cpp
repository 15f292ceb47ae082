// The network graph: five stages per frame over a caller-owned state.
// Record numbers (R<n>) index the 90-record parameter table; each record is
// consumed exactly once per frame, in index order.
#include "model.h"

#include "conv_kernels.h"
#include "ops_frame.h"
#include "ops_pointwise.h"
#include "ops_recurrent.h"

namespace {

// Groups of the grouped-linear layers; every call handles one row.
constexpr uint32_t kGroups = 8;
constexpr uint32_t kRows = 1;

// Joint embedding: band embedding (emb_cat 0..511, written by encoder_01)
// beside the rectified spectrum embedding, mapped to 256 values and run
// through the one-layer GRU (records 24 .. 34).
void joint_embedding(const param_record *p, model_state *s) {
    op_relu_replace(s->emb_cat + 512, s->c_emb, 512);
    op_grouped_linear_einsum_relu(s->emb_cat, s->emb, s->lin_scratch_1, p[24].data, 128, 32, kGroups, kRows);
    uint64_t cursor = 25;
    op_gru_nl1_io256(s->emb, s->emb_out, s->emb_gru_state, p, &cursor);
}

}  // namespace

extern "C" {

// Band features (32) -> 64-channel maps at 32, 16, 8 and 8 bands (e0 .. e3,
// kept for the gain decoder's skip paths) and the bin-major band embedding
// in emb_cat[0 .. 511].
void encoder_01(const dtype_t *band_features, const param_record *p, model_state *s) {
    dtype_t *scratch = s->conv_scratch;
    op_framewise(band_features, s->band_window, &s->band_window_pos, s->band_ring, 1, 3, 1, 32);

    op_convolution_g1_i1_o64_si03_si132_so01_so132_p00_p11_k03_k13_st01_st11(s->band_window, s->e0, p[0].data, scratch);
    op_bn_relu(s->e0, p[1].data, p[2].data, 1, 64, 1, 32);

    op_convolution_g64_i1_o1_si01_si132_so01_so116_p00_p11_k01_k13_st01_st12(s->e0, s->e1_dw, p[3].data);
    op_convolution_g1_i64_o64_si01_si116_so01_so116_p00_p10_k01_k11_st01_st11(s->e1_dw, s->e1, p[4].data, scratch);
    op_bn_relu(s->e1, p[5].data, p[6].data, 1, 64, 1, 16);

    op_convolution_g64_i1_o1_si01_si116_so01_so18_p00_p11_k01_k13_st01_st12(s->e1, s->e2_dw, p[7].data);
    op_convolution_g1_i64_o64_si01_si18_so01_so18_p00_p10_k01_k11_st01_st11(s->e2_dw, s->e2, p[8].data, scratch);
    op_bn_relu(s->e2, p[9].data, p[10].data, 1, 64, 1, 8);

    op_convolution_g64_i1_o1_si01_si18_so01_so18_p00_p11_k01_k13_st01_st11(s->e2, s->e3_dw, p[11].data, scratch);
    op_convolution_g1_i64_o64_si01_si18_so01_so18_p00_p10_k01_k11_st01_st11(s->e3_dw, s->e3, p[12].data, scratch);
    op_bn_relu(s->e3, p[13].data, p[14].data, 1, 64, 1, 8);

    op_transpose_8x64_to_2x8x64(s->emb_cat, s->e3);
}

// Spectrum features [2][96] -> c0 [64][96] (also the deep-filter branch's
// input) -> c1 [64][48] -> 512-value spectrum embedding c_emb.
void encoder_02(const dtype_t *spec_features, const param_record *p, model_state *s) {
    dtype_t *scratch = s->conv_scratch;
    op_framewise(spec_features, s->spec_window, &s->spec_window_pos, s->spec_ring, 1, 3, 2, 96);

    // Two groups: channels 0..31 from the real parts, 32..63 from the imaginary.
    op_convolution_g2_i1_o32_si03_si196_so01_so196_p00_p11_k03_k13_st01_st11(s->spec_window, s->c0_dw, p[15].data, scratch);
    op_convolution_g1_i64_o64_si01_si196_so01_so196_p00_p10_k01_k11_st01_st11(s->c0_dw, s->c0, p[16].data, scratch);
    op_bn_relu(s->c0, p[17].data, p[18].data, 1, 64, 1, 96);

    op_convolution_g64_i1_o1_si01_si196_so01_so148_p00_p11_k01_k13_st01_st12(s->c0, s->c1_dw, p[19].data);
    op_convolution_g1_i64_o64_si01_si148_so01_so148_p00_p10_k01_k11_st01_st11(s->c1_dw, s->c1, p[20].data, scratch);
    op_bn_relu(s->c1, p[21].data, p[22].data, 1, 64, 1, 48);

    op_transpose_48x64_to_64x48(s->c1_flat, s->c1);
    op_grouped_linear_einsum(s->c1_flat, s->c_emb, s->lin_scratch_0, p[23].data, 384, 64, kGroups, kRows);
}

void encoder_03(const param_record *params, model_state *state) { joint_embedding(params, state); }

// Embedding -> two-layer GRU -> band gains through a U-Net-style decoder
// that climbs back from 8 to 32 bands, joining the encoder maps e3 .. e0.
void decoder_01(dtype_t *band_gains, const param_record *p, model_state *s) {
    dtype_t *scratch = s->conv_scratch;
    op_grouped_linear_einsum_relu(s->emb_out, s->gain_in, s->lin_scratch_2, p[35].data, 32, 32, kGroups, kRows);
    uint64_t cursor = 36;
    op_gru_nl2_io256(s->gain_in, s->gain_gru_out, s->gain_gru_state, p, &cursor, s->gru_scratch);
    op_grouped_linear_einsum_relu(s->gain_gru_out, s->gain_emb, s->lin_scratch_3, p[46].data, 32, 64, kGroups, kRows);

    // Level 3 (8 bands): encoder map plus the recurrent embedding.
    op_convolution_g64_i1_o1_si01_si18_so01_so18_p00_p10_k01_k11_st01_st11(s->e3, s->d3, p[47].data, scratch);
    op_bn_relu(s->d3, p[48].data, p[49].data, 1, 64, 1, 8);
    op_accumulate_transpose_8x64_to_64x8(s->d3, s->gain_emb);
    op_convolution_g64_i1_o1_si01_si18_so01_so18_p00_p11_k01_k13_st01_st11(s->d3, s->d3_dw, p[50].data, scratch);
    op_convolution_g1_i64_o64_si01_si18_so01_so18_p00_p10_k01_k11_st01_st11(s->d3_dw, s->d3_main, p[51].data, scratch);
    op_bn_relu(s->d3_main, p[52].data, p[53].data, 1, 64, 1, 8);

    // Level 2 (8 -> 16 bands).
    op_convolution_g64_i1_o1_si01_si18_so01_so18_p00_p10_k01_k11_st01_st11(s->e2, s->d2_skip, p[54].data, scratch);
    op_bn(s->d2_skip, p[55].data, p[56].data, 1, 64, 1, 8);
    op_relu_sum(s->d2_skip, s->d3_main, 512);
    op_conv_tr(s->d2_skip, s->d2_up, p[57].data, 64, 1, 1, 8, 1, 16, 3);
    op_convolution_g1_i64_o64_si01_si116_so01_so116_p00_p10_k01_k11_st01_st11(s->d2_up, s->d2_main, p[58].data, scratch);
    op_bn_relu(s->d2_main, p[59].data, p[60].data, 1, 64, 1, 16);

    // Level 1 (16 -> 32 bands).
    op_convolution_g64_i1_o1_si01_si116_so01_so116_p00_p10_k01_k11_st01_st11(s->e1, s->d1_skip, p[61].data, scratch);
    op_bn(s->d1_skip, p[62].data, p[63].data, 1, 64, 1, 16);
    op_relu_sum(s->d1_skip, s->d2_main, 1024);
    op_conv_tr(s->d1_skip, s->d1_up, p[64].data, 64, 1, 1, 16, 1, 32, 3);
    op_convolution_g1_i64_o64_si01_si132_so01_so132_p00_p10_k01_k11_st01_st11(s->d1_up, s->d1_main, p[65].data, scratch);
    op_bn_relu(s->d1_main, p[66].data, p[67].data, 1, 64, 1, 32);

    // Level 0 (32 bands) and the single-channel gain map.
    op_convolution_g64_i1_o1_si01_si132_so01_so132_p00_p10_k01_k11_st01_st11(s->e0, s->d0_skip, p[68].data, scratch);
    op_bn(s->d0_skip, p[69].data, p[70].data, 1, 64, 1, 32);
    op_relu_sum(s->d0_skip, s->d1_main, 2048);
    op_convolution_g1_i64_o1_si01_si132_so01_so132_p00_p11_k01_k13_st01_st11(s->d0_skip, band_gains, p[71].data, scratch);
    op_bn_sigmod(band_gains, p[72].data, p[73].data, 1, 1, 1, 32);
}

// Embedding -> two-layer GRU -> tanh layer, plus a convolution branch over
// the last five c0 maps; their sum is the 5-tap complex deep filter.
void decoder_02(dtype_t *df_coefs, const param_record *p, model_state *s) {
    op_grouped_linear_einsum_relu(s->emb_out, s->df_in, s->lin_scratch_4, p[74].data, 32, 32, kGroups, kRows);
    uint64_t cursor = 75;
    op_gru_nl2_io256(s->df_in, s->df_gru_out, s->df_gru_state, p, &cursor, s->gru_scratch);
    op_grouped_linear_einsum_tanh(s->df_gru_out, s->df_lin, s->lin_scratch_5, p[85].data, 32, 120, kGroups, kRows);

    op_framewise(s->c0, s->df_window, &s->df_window_pos, s->df_ring, 1, 5, 64, 96);
    op_conv2d_ld(s->df_window, s->df_conv1, p[86].data, 2, 32, 5, 5, 96, 96, 0, 5, 1);
    op_conv2d_ld(s->df_conv1, s->df_conv2, p[87].data, 1, 10, 10, 1, 96, 96, 0, 1, 1);
    op_bn_relu(s->df_conv2, p[88].data, p[89].data, 1, 10, 1, 96);

    op_compute_df_coefs(df_coefs, s->df_lin, s->df_conv2);
}

void model(const dtype_t *band_features, const dtype_t *spec_features, dtype_t *band_gains,
           dtype_t *df_coefs, const param_record *params, model_state *state) {
    encoder_01(band_features, params, state);
    encoder_02(spec_features, params, state);
    joint_embedding(params, state);
    decoder_01(band_gains, params, state);
    decoder_02(df_coefs, params, state);
}

}  // extern "C"
