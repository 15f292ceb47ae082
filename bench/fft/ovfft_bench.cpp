// Forward plus backward real transform of one 960-point frame (the engine's
// analysis/synthesis size), ovfft against FFTW in the same run.
#include <benchmark/benchmark.h>

#include <random>

#include "fft/ovfft.h"
#include "fft/ovfft_backend.h"

#if defined(OVFFT_BENCH_WITH_FFTW)
#include <fftw3.h>
#endif

namespace {

const int kN = 960;

void fill(float *x, int n) {
  std::mt19937 rng(960);
  std::uniform_real_distribution<float> d(-1.f, 1.f);
  for (int i = 0; i < n; ++i) x[i] = d(rng);
}

void run_ovfft(benchmark::State &state, int ordered) {
  ovfft_setup *s = ovfft_new_setup(kN, OVFFT_REAL);
  float *x = (float *)ovfft_aligned_malloc(kN * sizeof(float));
  float *X = (float *)ovfft_aligned_malloc(kN * sizeof(float));
  float *y = (float *)ovfft_aligned_malloc(kN * sizeof(float));
  float *work = (float *)ovfft_aligned_malloc(kN * sizeof(float));
  fill(x, kN);
  auto run = ordered ? ovfft_transform_ordered : ovfft_transform;
  for (auto _ : state) {
    run(s, x, X, work, OVFFT_FORWARD);
    run(s, X, y, work, OVFFT_BACKWARD);
    benchmark::DoNotOptimize(y);
    benchmark::ClobberMemory();
  }
  state.SetLabel(calyx_fft::active_backend()->name);
  ovfft_aligned_free(x);
  ovfft_aligned_free(X);
  ovfft_aligned_free(y);
  ovfft_aligned_free(work);
  ovfft_destroy_setup(s);
}

void BM_ovfft_real960_ordered(benchmark::State &state) { run_ovfft(state, 1); }
void BM_ovfft_real960_internal(benchmark::State &state) { run_ovfft(state, 0); }
BENCHMARK(BM_ovfft_real960_ordered);
BENCHMARK(BM_ovfft_real960_internal);

#if defined(OVFFT_BENCH_WITH_FFTW)
void BM_fftw_real960(benchmark::State &state) {
  float *x = fftwf_alloc_real(kN);
  float *y = fftwf_alloc_real(kN);
  fftwf_complex *X = fftwf_alloc_complex(kN / 2 + 1);
  fftwf_plan fwd = fftwf_plan_dft_r2c_1d(kN, x, X, FFTW_MEASURE);
  fftwf_plan bwd = fftwf_plan_dft_c2r_1d(kN, X, y, FFTW_MEASURE);
  fill(x, kN);  // after planning: FFTW_MEASURE overwrites the arrays
  for (auto _ : state) {
    fftwf_execute(fwd);
    fftwf_execute(bwd);
    benchmark::DoNotOptimize(y);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(fwd);
  fftwf_destroy_plan(bwd);
  fftwf_free(x);
  fftwf_free(y);
  fftwf_free(X);
}
BENCHMARK(BM_fftw_real960);
#endif

}  // namespace

BENCHMARK_MAIN();
