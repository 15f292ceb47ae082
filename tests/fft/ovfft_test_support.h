// Shared helpers of the FFT tests: seeded random signals, a double-precision
// DFT as reference, and aligned buffers.
#ifndef CALYX_TESTS_OVFFT_TEST_SUPPORT_H
#define CALYX_TESTS_OVFFT_TEST_SUPPORT_H

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "fft/ovfft.h"

namespace ovfft_test {

typedef std::complex<double> cd;

// Float storage from ovfft_aligned_malloc, optionally offset by `skew` floats
// so that only float alignment holds.
class Buffer {
 public:
  explicit Buffer(size_t n, size_t skew = 0)
      : base_((float *)ovfft_aligned_malloc((n + skew) * sizeof(float))), data_(base_ + skew),
        n_(n) {
    for (size_t i = 0; i < n_; ++i) data_[i] = 0.f;
  }
  ~Buffer() { ovfft_aligned_free(base_); }
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  float *data() { return data_; }
  const float *data() const { return data_; }
  float &operator[](size_t i) { return data_[i]; }
  float operator[](size_t i) const { return data_[i]; }
  size_t size() const { return n_; }

 private:
  float *base_;
  float *data_;
  size_t n_;
};

inline void fill_random(Buffer &b, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.f, 1.f);
  for (size_t i = 0; i < b.size(); ++i) b[i] = dist(rng);
}

// X(k) = sum x(t) e^(sign 2 pi i k t / N), with the angle reduced exactly.
inline std::vector<cd> dft(const std::vector<cd> &x, int sign) {
  // Plain doubles rather than std::complex keep the O(N^2) loop quick in
  // unoptimised sanitizer builds.
  const size_t n = x.size();
  std::vector<double> wr(n), wi(n), xr(n), xi(n);
  for (size_t m = 0; m < n; ++m) {
    const double a = sign * 2.0 * M_PI * (double)m / (double)n;
    wr[m] = std::cos(a);
    wi[m] = std::sin(a);
    xr[m] = x[m].real();
    xi[m] = x[m].imag();
  }
  std::vector<cd> out(n);
  for (size_t k = 0; k < n; ++k) {
    double ar = 0, ai = 0;
    size_t m = 0;  // k * t mod n
    for (size_t t = 0; t < n; ++t) {
      ar += xr[t] * wr[m] - xi[t] * wi[m];
      ai += xr[t] * wi[m] + xi[t] * wr[m];
      m += k;
      if (m >= n) m -= n;
    }
    out[k] = cd(ar, ai);
  }
  return out;
}

inline double rms(const Buffer &b) {
  double acc = 0;
  for (size_t i = 0; i < b.size(); ++i) acc += (double)b[i] * b[i];
  return std::sqrt(acc / (double)b.size());
}

// Largest absolute difference.
// Running maximum of error terms that keeps a NaN: std::fmax would drop it
// and let a transform that returns NaN pass. (A std::fmax reduction also
// crashes GCC 12's aarch64 vectoriser at -O3.)
inline double worst(double m, double e) { return (e > m || std::isnan(e)) ? e : m; }

inline double max_abs_diff(const float *a, const float *b, size_t n) {
  double m = 0;
  for (size_t i = 0; i < n; ++i) m = worst(m, std::fabs((double)a[i] - (double)b[i]));
  return m;
}

}  // namespace ovfft_test

#endif
