// Every vector set of inner loops against the scalar reference, over sizes
// that hit each tile edge and remainder.
#include <gtest/gtest.h>

#include "nn_test_util.h"

namespace {

using calyx_nn::kernel_set;

class SimdPaths : public ::testing::TestWithParam<calyx_nn::kernel_isa> {
protected:
    const kernel_set *vec_ = nullptr;
    void SetUp() override {
        vec_ = calyx_nn::kernels_for(GetParam());
        if (vec_ == nullptr) GTEST_SKIP() << nn_test::isa_name(GetParam()) << " not available here";
    }
};

TEST_P(SimdPaths, RowCombinationAgreesWithScalarAtEveryEdge) {
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    const kernel_set &ref = calyx_nn::kernels_scalar;
    for (uint32_t rows : {0u, 1u, 2u, 3u, 5u, 64u, 160u, 384u})
        for (uint32_t n : {1u, 3u, 4u, 7u, 8u, 9u, 16u, 31u, 32u, 33u, 48u, 64u, 96u, 120u, 127u}) {
            const uint32_t ld = n + rows % 3;  // rows further apart than n
            const std::vector<float> a = nn_test::random_vec(rng, rows);
            const std::vector<float> M = nn_test::random_vec(rng, (size_t)rows * ld + 1);
            nn_test::Poisoned y(n), yr(n);
            vec_->rowcomb(a.data(), M.data(), rows, n, ld, y.data());
            ref.rowcomb(a.data(), M.data(), rows, n, ld, yr.data());
            for (uint32_t j = 0; j < n; ++j) {
                double mag = 0;
                for (uint32_t r = 0; r < rows; ++r) mag += std::fabs((double)a[r] * M[(size_t)r * ld + j]);
                ASSERT_TRUE(nn_test::close(y[j], yr[j], mag))
                    << "rows " << rows << " n " << n << " j " << j << ": " << y[j] << " vs " << yr[j];
            }
            ASSERT_TRUE(y.guards_intact()) << "rows " << rows << " n " << n;
        }
}

TEST_P(SimdPaths, GruSumsAgreeWithScalar) {
    std::mt19937 rng(nn_test::seed());
    SCOPED_TRACE(nn_test::seed_note());
    for (uint32_t n_in : {256u, 8u, 12u, 13u, 3u})
        for (uint32_t units : {256u, 5u}) {
            std::vector<std::vector<float>> w(6);
            const float *W[6];
            for (int m = 0; m < 6; ++m) {
                w[m] = nn_test::random_vec(rng, (size_t)units * n_in);
                W[m] = w[m].data();
            }
            const std::vector<float> x = nn_test::random_vec(rng, n_in), h = nn_test::random_vec(rng, n_in);
            nn_test::Poisoned s(4 * units), sr(4 * units);
            vec_->gru_sums(W, x.data(), h.data(), units, n_in, s.data());
            calyx_nn::kernels_scalar.gru_sums(W, x.data(), h.data(), units, n_in, sr.data());
            for (uint32_t i = 0; i < 4 * units; ++i)
                ASSERT_TRUE(nn_test::close(s[i], sr[i], 2.0 * n_in)) << "n_in " << n_in << " sum " << i;
            ASSERT_TRUE(s.guards_intact());
        }
}

TEST(SimdPaths, ActiveSetIsTheWidestAvailable) {
    const kernel_set *widest = nullptr;
    for (int i = calyx_nn::isa_count - 1; i >= 0 && !widest; --i)
        widest = calyx_nn::kernels_for(static_cast<calyx_nn::kernel_isa>(i));
    EXPECT_EQ(&calyx_nn::active_kernels(), widest) << calyx_nn::active_kernels().name;
#if defined(CALYX_FORCE_SCALAR)
    EXPECT_EQ(widest, &calyx_nn::kernels_scalar);
#endif
}

INSTANTIATE_TEST_SUITE_P(Isa, SimdPaths, ::testing::Values(calyx_nn::isa_vec4, calyx_nn::isa_avx2),
                         nn_test::isa_param_name);

}  // namespace
