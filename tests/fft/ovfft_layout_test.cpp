// Setup (factor lists, rejected sizes) and the ordered spectrum layout on
// signals with known spectra.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/fft/ovfft_test_support.h"

namespace {

using ovfft_test::Buffer;

std::vector<int> radices(const ovfft_setup *s) {
  return std::vector<int>(s->factors + 2, s->factors + 2 + s->factors[1]);
}

TEST(OvfftSetup, FactorListsAndSizes) {
  struct Case {
    int N;
    ovfft_kind kind;
    std::vector<int> radices;
    int vector_count;
  } cases[] = {
      {960, OVFFT_REAL, {4, 4, 3, 5}, 120},
      {32, OVFFT_REAL, {2, 4}, 4},
      {960, OVFFT_COMPLEX, {5, 3, 4, 4}, 240},
      {64, OVFFT_REAL, {4, 4}, 8},
      {96, OVFFT_REAL, {2, 4, 3}, 12},
      {32, OVFFT_COMPLEX, {2, 4}, 8},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "N=" << c.N << " kind=" << c.kind);
    ovfft_setup *s = ovfft_new_setup(c.N, c.kind);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->N, c.N);
    EXPECT_EQ(s->kind, c.kind);
    EXPECT_EQ(s->factors[0], c.N / 4);
    EXPECT_EQ(radices(s), c.radices);
    EXPECT_EQ(s->vector_count, c.vector_count);
    EXPECT_EQ((uintptr_t)s->storage % 64, 0u);
    EXPECT_EQ((void *)s->final_twiddles, s->storage);
    EXPECT_EQ(s->stage_twiddles, s->final_twiddles + 6 * c.vector_count);
    ovfft_destroy_setup(s);
  }
  EXPECT_EQ(ovfft_simd_size(), 4);
}

TEST(OvfftSetup, SizesWithOtherPrimeFactorsGiveNull) {
  EXPECT_EQ(ovfft_new_setup(224, OVFFT_REAL), nullptr);      // n = 56 = 2 * 4 * 7
  EXPECT_EQ(ovfft_new_setup(112, OVFFT_COMPLEX), nullptr);   // n = 28 = 4 * 7
  EXPECT_EQ(ovfft_new_setup(32 * 11, OVFFT_REAL), nullptr);  // factor 11
  // 4 * 3^13 radices would overrun the factor list: refused, not truncated.
  EXPECT_EQ(ovfft_new_setup(16 * 1594323, OVFFT_COMPLEX), nullptr);
}

TEST(OvfftSetup, AlignedAllocation) {
  for (size_t nb : {size_t(1), size_t(100), size_t(4096)}) {
    void *p = ovfft_aligned_malloc(nb);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ((uintptr_t)p % 64, 0u);
    ovfft_aligned_free(p);
  }
  ovfft_aligned_free(nullptr);
}

class RealLayout : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    N = GetParam();
    s = ovfft_new_setup(N, OVFFT_REAL);
    ASSERT_NE(s, nullptr);
  }
  void TearDown() override { ovfft_destroy_setup(s); }
  // Forward of x, compared float by float with the expected ordered spectrum.
  void expect_spectrum(const Buffer &x, const std::vector<float> &want) {
    Buffer X(N);
    ovfft_transform_ordered(s, x.data(), X.data(), nullptr, OVFFT_FORWARD);
    const double tol = 1e-5 * N;
    for (int i = 0; i < N; ++i) ASSERT_NEAR(X[i], want[i], tol) << "float " << i;
  }
  int N = 0;
  ovfft_setup *s = nullptr;
};

TEST_P(RealLayout, ImpulseConstantAndAlternating) {
  Buffer x(N);
  x[0] = 1.f;
  std::vector<float> want(N, 0.f);
  want[0] = want[1] = 1.f;
  for (int k = 1; k < N / 2; ++k) want[2 * k] = 1.f;
  expect_spectrum(x, want);

  std::fill(want.begin(), want.end(), 0.f);
  for (int i = 0; i < N; ++i) x[i] = 1.f;
  want[0] = (float)N;
  expect_spectrum(x, want);

  std::fill(want.begin(), want.end(), 0.f);
  for (int i = 0; i < N; ++i) x[i] = (i % 2) ? -1.f : 1.f;
  want[1] = (float)N;
  expect_spectrum(x, want);
}

TEST_P(RealLayout, CosineAndSineOfOneBin) {
  const int bins[] = {1, 2, N / 8, N / 4, 3 * N / 8, N / 2 - 1, N / 3 + 1};
  for (int k : bins) {
    SCOPED_TRACE(testing::Message() << "bin " << k);
    Buffer c(N), sn(N);
    for (int t = 0; t < N; ++t) {
      const double a = 2.0 * M_PI * (double)((long)k * t % N) / N;
      c[t] = (float)std::cos(a);
      sn[t] = (float)std::sin(a);
    }
    std::vector<float> want(N, 0.f);
    want[2 * k] = N / 2.f;
    expect_spectrum(c, want);
    want[2 * k] = 0.f;
    want[2 * k + 1] = -N / 2.f;
    expect_spectrum(sn, want);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealLayout, ::testing::Values(32, 96, 960));

TEST(ComplexLayout, ExponentialOfOneBin) {
  const int N = 240;
  ovfft_setup *s = ovfft_new_setup(N, OVFFT_COMPLEX);
  ASSERT_NE(s, nullptr);
  for (int k : {0, 1, 59, 60, 61, 119, 120, 200, 239}) {
    Buffer x(2 * N), X(2 * N);
    for (int t = 0; t < N; ++t) {
      const double a = 2.0 * M_PI * (double)(k * t % N) / N;
      x[2 * t] = (float)std::cos(a);
      x[2 * t + 1] = (float)std::sin(a);
    }
    ovfft_transform_ordered(s, x.data(), X.data(), nullptr, OVFFT_FORWARD);
    for (int b = 0; b < N; ++b) {
      ASSERT_NEAR(X[2 * b], b == k ? N : 0.f, 1e-5 * N) << "k " << k << " bin " << b;
      ASSERT_NEAR(X[2 * b + 1], 0.f, 1e-5 * N) << "k " << k << " bin " << b;
    }
  }
  ovfft_destroy_setup(s);
}

}  // namespace
