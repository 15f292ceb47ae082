// Contract violations stop the process, in every build type; and each test
// variant really runs the kernel set it is meant to cover.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "fft/ovfft_backend.h"
#include "tests/fft/ovfft_test_support.h"

namespace {

using ovfft_test::Buffer;

TEST(OvfftContractDeathTest, InvalidSizesAndBuffersAbort) {
  // Cross builds under a user-mode emulator ask for "fast" through the
  // environment, since re-executing a foreign binary fails there.
  if (std::getenv("GTEST_DEATH_TEST_STYLE") == nullptr)
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(ovfft_new_setup(100, OVFFT_REAL), "contract");
  EXPECT_DEATH(ovfft_new_setup(0, OVFFT_REAL), "contract");
  EXPECT_DEATH(ovfft_new_setup(24, OVFFT_COMPLEX), "contract");
  ovfft_setup *s = ovfft_new_setup(64, OVFFT_REAL);
  ASSERT_NE(s, nullptr);
  Buffer a(64), b(64), big(128);
  EXPECT_DEATH(ovfft_zreorder(s, a.data(), a.data(), OVFFT_FORWARD), "in != out");
  EXPECT_DEATH(ovfft_transform(s, a.data(), b.data(), a.data() , OVFFT_FORWARD), "disjoint");
  EXPECT_DEATH(ovfft_transform(s, big.data(), big.data() + 10, nullptr, OVFFT_FORWARD),
               "disjoint");
  float *odd = (float *)((char *)b.data() + 2);
  EXPECT_DEATH(ovfft_transform_ordered(s, a.data(), odd, nullptr, OVFFT_FORWARD), "aligned");
  ovfft_destroy_setup(s);
}

TEST(OvfftBackend, VariantRunsItsKernelSet) {
  const char *name = calyx_fft::active_backend()->name;
#if defined(OVFFT_TEST_EXPECT_SCALAR) || defined(CALYX_FORCE_SCALAR)
  EXPECT_STREQ(name, "scalar");
#elif defined(OVFFT_TEST_EXPECT_NO_FMA)
  EXPECT_STRNE(name, "sse-fma");
  EXPECT_STRNE(name, "scalar");
#elif defined(__x86_64__) && defined(OVFFT_TEST_HAS_FMA_SET)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
    EXPECT_STREQ(name, "sse-fma");
  else
    EXPECT_STREQ(name, "sse");
#else
  EXPECT_STRNE(name, "scalar");
#endif
}

// Every compiled kernel set gives the same ordered spectrum up to rounding.
TEST(OvfftBackend, KernelSetsAgreeWithScalarReference) {
  const int N = 960;
  ovfft_setup *s = ovfft_new_setup(N, OVFFT_REAL);
  ASSERT_NE(s, nullptr);
  Buffer x(N), ref(N), got(N), work(N);
  ovfft_test::fill_random(x, 4242);
  calyx_fft::scalar_backend()->transform(s, x.data(), ref.data(), work.data(), OVFFT_FORWARD, 1);
  const calyx_fft::Backend *sets[] = {calyx_fft::simd_backend(), calyx_fft::active_backend()};
  for (const calyx_fft::Backend *b : sets) {
    if (b == nullptr) continue;
    SCOPED_TRACE(b->name);
    b->transform(s, x.data(), got.data(), work.data(), OVFFT_FORWARD, 1);
    EXPECT_LT(ovfft_test::max_abs_diff(got.data(), ref.data(), N), 1e-4);
  }
  ovfft_destroy_setup(s);
}

}  // namespace
