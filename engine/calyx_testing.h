/* Test seam of the engine interface, not part of the public header.
 * Plain C. */
#ifndef CALYX_TESTING_H
#define CALYX_TESTING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Replaces the allocator of CX_PROCESS's two per-call scratch arrays (which
 * are released with free(), so the replacement must hand out malloc-
 * compatible blocks or null). Null restores malloc. Lets tests provoke a
 * failed allocation; not for use while another thread processes. */
void calyx_set_scratch_allocator(void *(*alloc)(size_t));

#ifdef __cplusplus
}
#endif

#endif /* CALYX_TESTING_H */
