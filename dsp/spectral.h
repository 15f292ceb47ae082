/* Windows and spectral utilities: pure functions on caller-owned float
 * buffers; nothing allocates or keeps state.
 *
 * Ordered real spectrum of n floats: [0] DC, [1] Nyquist, then real and
 * imaginary parts of bins 1 .. n/2 - 1. Phases are in radians; the *d
 * trigonometric functions take or return degrees. */
#ifndef CALYX_DSP_SPECTRAL_H
#define CALYX_DSP_SPECTRAL_H

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Periodic Hann window: w[i] = 0.5 - 0.5 cos(2 pi i / n), i = 0 .. n-1. */
void hann_window(float *w, unsigned n);

/* Sine window: w[i] = sin(pi (i + 0.5) / n), i = 0 .. n-1. */
void sine_window(float *w, unsigned n);

/* Wraps a phase in radians into (-pi, pi]; pi maps to pi. */
float wrap_degree(float x);

/* Wraps each phase into (-pi, pi); a phase whose magnitude is exactly 0 becomes
 * 0. Returns true when at least one magnitude is nonzero. */
bool wrap_degree_with_magnitude(float *phase, const float *magnitude, unsigned n);

/* Magnitudes of an ordered spectrum of even length n: out[0] = |DC|,
 * out[1] = |Nyquist|, and each complex bin's magnitude in both floats of its
 * pair. In-place use (out == spectrum) is allowed. */
void convert_frequency_to_absolute_value(const float *spectrum, float *out, unsigned n);

/* As above, but each bin's pair becomes (magnitude, 0). */
void convert_frequency_to_absolute_value_real(const float *spectrum, float *out, unsigned n);

/* Euclid's algorithm; 0 when a or b is 0. */
int greatest_common_divisor(int a, int b);

float cosd(float degrees);
float sind(float degrees);
float atan2d(float y, float x);
float acosd(float x);
float asind(float x);

/* Remainder of x / a with the sign made non-negative for positive a. */
float mod(float x, float a);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_DSP_SPECTRAL_H */
