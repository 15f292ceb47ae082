// Transforms against a double-precision DFT on seeded random input.
//
// The error is measured relative to the RMS of the exact spectrum,
// sqrt(N) * rms(x) (Parseval), so that it reads as a relative error. Each of
// the about log2(N) butterfly levels, and the twiddles rounded to float, add
// a unit or so of float rounding (eps = 2^-24) to that error. Correct
// transforms stay below 1.2 eps log2(N) at every size here; the asserted
// bound is 4 eps log2(N). A wrong twiddle, sign or bin lands far above it.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "tests/fft/ovfft_test_support.h"

namespace {

using ovfft_test::Buffer;
using ovfft_test::cd;

double bound(int n) { return 4.0 * (FLT_EPSILON / 2) * std::log2((double)n); }

class RealAccuracy : public ::testing::TestWithParam<int> {};

TEST_P(RealAccuracy, OrderedForwardAndBackwardMatchDft) {
  const int N = GetParam();
  const uint32_t seed = 1000u + (uint32_t)N;
  SCOPED_TRACE(testing::Message() << "N=" << N << " seed=" << seed);
  ovfft_setup *s = ovfft_new_setup(N, OVFFT_REAL);
  ASSERT_NE(s, nullptr);
  Buffer x(N), X(N), work(N), back(N);
  ovfft_test::fill_random(x, seed);
  std::vector<cd> xc(N);
  for (int i = 0; i < N; ++i) xc[i] = x[i];
  const std::vector<cd> ref = ovfft_test::dft(xc, -1);
  ovfft_transform_ordered(s, x.data(), X.data(), work.data(), OVFFT_FORWARD);

  const double scale = std::sqrt((double)N) * ovfft_test::rms(x);
  double err = std::fabs(X[0] - ref[0].real()) + std::fabs(X[1] - ref[N / 2].real());
  for (int k = 1; k < N / 2; ++k) {
    err = ovfft_test::worst(err, std::fabs(X[2 * k] - ref[k].real()));
    err = ovfft_test::worst(err, std::fabs(X[2 * k + 1] - ref[k].imag()));
  }
  EXPECT_LT(err / scale, bound(N));

  // Backward of the exact spectrum: N * x.
  Buffer Xref(N);
  Xref[0] = (float)ref[0].real();
  Xref[1] = (float)ref[N / 2].real();
  for (int k = 1; k < N / 2; ++k) {
    Xref[2 * k] = (float)ref[k].real();
    Xref[2 * k + 1] = (float)ref[k].imag();
  }
  ovfft_transform_ordered(s, Xref.data(), back.data(), work.data(), OVFFT_BACKWARD);
  double berr = 0;
  for (int i = 0; i < N; ++i) berr = ovfft_test::worst(berr, std::fabs(back[i] - (double)N * x[i]));
  EXPECT_LT(berr / (N * ovfft_test::rms(x)), bound(N));
  ovfft_destroy_setup(s);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealAccuracy, ::testing::Values(32, 64, 96, 480, 960, 1920, 4800));

class ComplexAccuracy : public ::testing::TestWithParam<int> {};

TEST_P(ComplexAccuracy, OrderedForwardAndBackwardMatchDft) {
  const int N = GetParam();
  const uint32_t seed = 2000u + (uint32_t)N;
  SCOPED_TRACE(testing::Message() << "N=" << N << " seed=" << seed);
  ovfft_setup *s = ovfft_new_setup(N, OVFFT_COMPLEX);
  ASSERT_NE(s, nullptr);
  Buffer x(2 * N), X(2 * N), work(2 * N), back(2 * N);
  ovfft_test::fill_random(x, seed);
  std::vector<cd> xc(N);
  for (int i = 0; i < N; ++i) xc[i] = cd(x[2 * i], x[2 * i + 1]);
  const double scale = std::sqrt((double)N) * ovfft_test::rms(x);
  for (int dir = 0; dir < 2; ++dir) {
    const std::vector<cd> ref = ovfft_test::dft(xc, dir == 0 ? -1 : 1);
    ovfft_transform_ordered(s, x.data(), X.data(), work.data(),
                            dir == 0 ? OVFFT_FORWARD : OVFFT_BACKWARD);
    double err = 0;
    for (int k = 0; k < N; ++k) {
      err = ovfft_test::worst(err, std::fabs(X[2 * k] - ref[k].real()));
      err = ovfft_test::worst(err, std::fabs(X[2 * k + 1] - ref[k].imag()));
    }
    EXPECT_LT(err / scale, bound(N)) << "direction " << dir;
  }
  ovfft_destroy_setup(s);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ComplexAccuracy, ::testing::Values(16, 48, 240, 960));

}  // namespace
