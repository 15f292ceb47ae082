// Round trips and the buffer contracts: in place, null work, float-only
// alignment, reorder, and convolution through the internal order.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "tests/fft/ovfft_test_support.h"

namespace {

using ovfft_test::Buffer;

struct Shape {
  int N;
  ovfft_kind kind;
  size_t floats() const { return (size_t)N * (kind == OVFFT_REAL ? 1 : 2); }
};

std::ostream &operator<<(std::ostream &os, const Shape &s) {
  return os << (s.kind == OVFFT_REAL ? "real" : "complex") << s.N;
}

class Buffers : public ::testing::TestWithParam<Shape> {
 protected:
  void SetUp() override {
    shape = GetParam();
    s = ovfft_new_setup(shape.N, shape.kind);
    ASSERT_NE(s, nullptr);
  }
  void TearDown() override { ovfft_destroy_setup(s); }
  uint32_t seed() const { return 77u * (uint32_t)shape.N + (uint32_t)shape.kind; }
  Shape shape{};
  ovfft_setup *s = nullptr;
};

TEST_P(Buffers, BackwardOfForwardIsNTimesInput) {
  const size_t n = shape.floats();
  Buffer x(n), X(n), y(n), work(n);
  ovfft_test::fill_random(x, seed());
  for (int ordered = 0; ordered < 2; ++ordered) {
    auto run = ordered ? ovfft_transform_ordered : ovfft_transform;
    run(s, x.data(), X.data(), work.data(), OVFFT_FORWARD);
    run(s, X.data(), y.data(), work.data(), OVFFT_BACKWARD);
    const double tol = 4.0 * (FLT_EPSILON / 2) * std::log2((double)shape.N) * shape.N;
    for (size_t i = 0; i < n; ++i)
      ASSERT_NEAR(y[i], shape.N * x[i], tol) << "float " << i << " ordered " << ordered;
  }
}

TEST_P(Buffers, InPlaceNullWorkAndUnalignedGiveIdenticalResults) {
  const size_t n = shape.floats();
  Buffer x(n);
  ovfft_test::fill_random(x, seed());
  for (int ordered = 0; ordered < 2; ++ordered) {
    auto run = ordered ? ovfft_transform_ordered : ovfft_transform;
    for (int dir = 0; dir < 2; ++dir) {
      SCOPED_TRACE(testing::Message() << "ordered " << ordered << " direction " << dir);
      const ovfft_direction d = dir ? OVFFT_BACKWARD : OVFFT_FORWARD;
      Buffer ref(n), work(n);
      run(s, x.data(), ref.data(), work.data(), d);

      Buffer inplace(n);
      std::memcpy(inplace.data(), x.data(), n * sizeof(float));
      run(s, inplace.data(), inplace.data(), work.data(), d);
      EXPECT_EQ(0, std::memcmp(inplace.data(), ref.data(), n * sizeof(float)));

      Buffer nowork(n);
      run(s, x.data(), nowork.data(), nullptr, d);
      EXPECT_EQ(0, std::memcmp(nowork.data(), ref.data(), n * sizeof(float)));

      std::memcpy(inplace.data(), x.data(), n * sizeof(float));
      run(s, inplace.data(), inplace.data(), nullptr, d);
      EXPECT_EQ(0, std::memcmp(inplace.data(), ref.data(), n * sizeof(float)));

      // Buffers that are only float aligned (one float past a 64-byte boundary).
      Buffer xs(n, 1), outs(n, 3), works(n, 2);
      std::memcpy(xs.data(), x.data(), n * sizeof(float));
      run(s, xs.data(), outs.data(), works.data(), d);
      EXPECT_EQ(0, std::memcmp(outs.data(), ref.data(), n * sizeof(float)));
      // The input is left untouched by an out-of-place call.
      EXPECT_EQ(0, std::memcmp(xs.data(), x.data(), n * sizeof(float)));
    }
  }
}

TEST_P(Buffers, ReorderRoundTripAndAgreementWithOrderedTransform) {
  const size_t n = shape.floats();
  Buffer x(n), internal(n), ordered(n), direct(n), back(n);
  ovfft_test::fill_random(x, seed());
  ovfft_transform(s, x.data(), internal.data(), nullptr, OVFFT_FORWARD);
  ovfft_zreorder(s, internal.data(), ordered.data(), OVFFT_FORWARD);
  ovfft_transform_ordered(s, x.data(), direct.data(), nullptr, OVFFT_FORWARD);
  EXPECT_EQ(0, std::memcmp(ordered.data(), direct.data(), n * sizeof(float)));
  ovfft_zreorder(s, ordered.data(), back.data(), OVFFT_BACKWARD);
  EXPECT_EQ(0, std::memcmp(back.data(), internal.data(), n * sizeof(float)));
  // Arbitrary data, not only spectra, survives the round trip.
  Buffer r(n), o(n), b(n);
  ovfft_test::fill_random(r, seed() + 1);
  ovfft_zreorder(s, r.data(), o.data(), OVFFT_FORWARD);
  ovfft_zreorder(s, o.data(), b.data(), OVFFT_BACKWARD);
  EXPECT_EQ(0, std::memcmp(b.data(), r.data(), n * sizeof(float)));
}

TEST_P(Buffers, ConvolveAccumulateIsCircularConvolution) {
  const int N = shape.N;
  const size_t n = shape.floats();
  const bool real = shape.kind == OVFFT_REAL;
  Buffer x(n), y(n), z(n), A(n), B(n), AB(n), out(n);
  ovfft_test::fill_random(x, seed() + 10);
  ovfft_test::fill_random(y, seed() + 11);
  ovfft_test::fill_random(z, seed() + 12);
  ovfft_transform(s, x.data(), A.data(), nullptr, OVFFT_FORWARD);
  ovfft_transform(s, y.data(), B.data(), nullptr, OVFFT_FORWARD);
  ovfft_transform(s, z.data(), AB.data(), nullptr, OVFFT_FORWARD);
  const float scaling = 0.5f;
  ovfft_zconvolve_accumulate(s, A.data(), B.data(), AB.data(), scaling);
  ovfft_transform(s, AB.data(), out.data(), nullptr, OVFFT_BACKWARD);

  // Expected: z + scaling * (x circularly convolved with y).
  std::vector<ovfft_test::cd> xc(N), yc(N);
  for (int t = 0; t < N; ++t) {
    xc[t] = real ? ovfft_test::cd(x[t]) : ovfft_test::cd(x[2 * t], x[2 * t + 1]);
    yc[t] = real ? ovfft_test::cd(y[t]) : ovfft_test::cd(y[2 * t], y[2 * t + 1]);
  }
  // Large sizes check a spread subset of outputs to keep the O(N^2) sum quick.
  const int stride = N > 1000 ? 37 : 1;
  double max_err = 0;
  for (int t = 0; t < N; t += stride) {
    ovfft_test::cd acc = 0;
    for (int u = 0; u < N; ++u) acc += xc[u] * yc[(t - u + N) % N];
    const ovfft_test::cd want =
        (real ? ovfft_test::cd(z[t]) : ovfft_test::cd(z[2 * t], z[2 * t + 1])) +
        (double)scaling * acc;
    const ovfft_test::cd got = real ? ovfft_test::cd(out[t] / N)
                                    : ovfft_test::cd(out[2 * t] / N, out[2 * t + 1] / N);
    max_err = ovfft_test::worst(max_err, std::abs(got - want));
  }
  // Convolution sums of N products of values in [-1, 1] have RMS ~ sqrt(N / 9).
  EXPECT_LT(max_err, 8.0 * (FLT_EPSILON / 2) * std::log2((double)N) * std::sqrt((double)N));
}

INSTANTIATE_TEST_SUITE_P(Shapes, Buffers,
                         ::testing::Values(Shape{32, OVFFT_REAL}, Shape{960, OVFFT_REAL},
                                           Shape{4800, OVFFT_REAL}, Shape{16, OVFFT_COMPLEX},
                                           Shape{240, OVFFT_COMPLEX}, Shape{4800, OVFFT_COMPLEX}),
                         [](const testing::TestParamInfo<Shape> &i) {
                           std::ostringstream os;
                           os << i.param;
                           return os.str();
                         });

}  // namespace
