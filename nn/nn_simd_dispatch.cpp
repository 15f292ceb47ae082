// Chooses the widest set of inner loops the CPU runs, once, on first use.
#include <atomic>

#include "nn_simd.h"

namespace calyx_nn {
namespace {

std::atomic<const kernel_set *> g_active{nullptr};

const kernel_set *widest() {
    for (int i = isa_count - 1; i > 0; --i) {
        if (const kernel_set *k = kernels_for(static_cast<kernel_isa>(i))) return k;
    }
    return &kernels_scalar;
}

}  // namespace

const kernel_set *kernels_for(kernel_isa isa) {
    switch (isa) {
    case isa_scalar:
        return &kernels_scalar;
    case isa_vec4:
#if defined(CALYX_NN_HAVE_VEC4)
        return &kernels_vec4;
#else
        return nullptr;
#endif
    case isa_avx2:
#if defined(CALYX_NN_AVX2)
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return &kernels_avx2;
#endif
        return nullptr;
    default:
        return nullptr;
    }
}

const kernel_set &active_kernels() {
    const kernel_set *k = g_active.load(std::memory_order_relaxed);
    if (k == nullptr) {
        k = widest();
        g_active.store(k, std::memory_order_relaxed);
    }
    return *k;
}

bool select_kernels(kernel_isa isa) {
    const kernel_set *k = kernels_for(isa);
    if (k == nullptr) return false;
    g_active.store(k, std::memory_order_relaxed);
    return true;
}

}  // namespace calyx_nn
