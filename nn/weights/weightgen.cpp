// calyx_weightgen: writes a 90-record weight blob.
//   calyx_weightgen transparent OUT     network passes audio through unchanged
//   calyx_weightgen random SEED OUT     seeded random weights (tests, benchmarks)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "weight_sets.h"

static int usage() {
    std::fprintf(stderr, "usage: calyx_weightgen transparent OUT | random SEED OUT\n");
    return 2;
}

int main(int argc, char **argv) {
    using namespace calyx_weights;
    WeightSet set;
    std::string out;
    if (argc == 3 && std::strcmp(argv[1], "transparent") == 0) {
        set = transparent_set();
        out = argv[2];
    } else if (argc == 4 && std::strcmp(argv[1], "random") == 0) {
        char *end = nullptr;
        const unsigned long long seed = std::strtoull(argv[2], &end, 0);
        if (end == argv[2] || *end != '\0') return usage();
        set = random_set(seed);
        out = argv[3];
    } else {
        return usage();
    }
    if (!write_blob(out, set)) {
        std::perror(out.c_str());
        return 1;
    }
    return 0;
}
