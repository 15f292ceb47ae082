/* Element type of every network tensor and weight, and the parameter record
 * that owns one weight tensor. Plain C. */
#ifndef CALYX_NN_TYPES_H
#define CALYX_NN_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 32-bit IEEE-754 float. Only the conversion routines of params.h depend on
 * its width. */
typedef float dtype_t;

/* One weight tensor: `length` elements at `data`, 64-byte aligned when the
 * record comes from the blob parser. The record owns `data`. */
typedef struct param_record {
    int32_t length;
    dtype_t *data;
} param_record;

#ifdef __cplusplus
}
#endif

#endif /* CALYX_NN_TYPES_H */
