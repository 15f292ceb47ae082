// calyx_engine_probe write OUT        runs the fixed probe and writes its output
// calyx_engine_probe compare REF GOT BOUND
//                                     prints the largest sample difference;
//                                     status 1 when it exceeds BOUND (or the
//                                     files differ in length or hold NaN/inf)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine_probe.h"

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "write") == 0) {
        const std::vector<float> out = engine_probe::run();
        if (out.empty() || !engine_probe::write_raw(argv[2], out)) {
            std::fprintf(stderr, "calyx_engine_probe: cannot produce %s\n", argv[2]);
            return 2;
        }
        std::printf("%zu samples written to %s\n", out.size(), argv[2]);
        return 0;
    }
    if (argc == 5 && std::strcmp(argv[1], "compare") == 0) {
        std::vector<float> ref, got;
        if (!engine_probe::read_raw(argv[2], &ref) || !engine_probe::read_raw(argv[3], &got)) {
            std::fprintf(stderr, "calyx_engine_probe: cannot read %s or %s\n", argv[2], argv[3]);
            return 2;
        }
        char *end = nullptr;
        const double bound = std::strtod(argv[4], &end);
        if (end == argv[4] || *end != '\0' || !(bound >= 0.0)) {
            std::fprintf(stderr, "calyx_engine_probe: bad bound %s\n", argv[4]);
            return 2;
        }
        const double d = engine_probe::max_abs_diff(ref, got);
        std::printf("max_abs_diff %.3g (bound %.3g, %zu samples)\n", d, bound, ref.size());
        return d <= bound ? 0 : 1;
    }
    std::fprintf(stderr, "usage: %s write OUT | compare REF GOT BOUND\n", argv[0]);
    return 2;
}
