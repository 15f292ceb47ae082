// Straightforward double-precision rendering of the network graph, written
// from the layer formulas with plain loops and its own frame history and
// recurrent states. The tests compare `model` against it.
#ifndef CALYX_TESTS_NN_REFERENCE_MODEL_H
#define CALYX_TESTS_NN_REFERENCE_MODEL_H

#include <deque>
#include <vector>

#include "weight_sets.h"

class ReferenceModel {
public:
    explicit ReferenceModel(const calyx_weights::WeightSet &weights);

    // One frame: band (32), spec (192) in; gains (32), coefs (960) out.
    void run(const float *band, const float *spec, std::vector<double> &gains,
             std::vector<double> &coefs);

private:
    using Vec = std::vector<double>;
    const calyx_weights::WeightSet &w_;
    std::deque<Vec> band_past_, spec_past_, c0_past_;  // oldest first
    Vec h_emb_, h_gain_, h_df_;
};

#endif  // CALYX_TESTS_NN_REFERENCE_MODEL_H
