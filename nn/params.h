/* Parameter store: parses the weight blob (or a file of the same format)
 * into a table of parameter records, writes tables back to files, releases
 * them, and converts between float and dtype_t at the network's boundary.
 *
 * Blob and file format: records back to back, no header, no padding. Each
 * record is a signed 32-bit little-endian element count n followed by n
 * little-endian 32-bit floats. The record count is not stored; callers pass
 * it (the engine uses 90).
 *
 * Loaders report failures through perror() and return null; nothing is left
 * allocated then. Plain C. */
#ifndef CALYX_NN_PARAMS_H
#define CALYX_NN_PARAMS_H

#include <stdbool.h>
#include <stdint.h>

#include "nn_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The built-in weight blob: 90 records, 9,213,008 bytes. Constant data. */
extern const unsigned char PARAMS_90[];

/* Byte length and record count of the built-in blob. */
#define CALYX_PARAMS_90_BYTES 9213008
#define CALYX_PARAMS_90_COUNT 90

/* Byte length of the blob actually built in (equals CALYX_PARAMS_90_BYTES
 * for a well-formed weight file). */
extern const uint32_t PARAMS_90_size;

/* Parses `count` records from `size` bytes at `data` into a new table whose
 * table and tensors are 64-byte aligned and padded to multiples of 64 bytes.
 * Bytes after the last requested record are ignored. count < 1 gives an
 * empty (but non-null) table. Null on a truncated blob, a negative element
 * count or an allocation failure. Release with destroy_params(table, count). */
param_record *load_from_array(const unsigned char *data, int32_t size, int32_t count);

/* Same contract and result as load_from_array (dtype_t is 4 bytes wide). */
param_record *load_from_array_fp16(const unsigned char *data, int32_t size, int32_t count);

/* Reads `count` records in the blob format from the file at `path`. Null
 * when the file cannot be opened, is short, holds a negative element count,
 * or memory runs out. Release with destroy_params(table, count). */
param_record *load_from_file(const char *path, int32_t count);

/* Writes the first `count` records of `table` to `path` (created or
 * truncated) in the blob format. Write errors are not reported. */
void save_to_file(const char *path, const param_record *table, int32_t count);

/* Frees the data of the first `count` records, then the table. Null table:
 * nothing happens. */
void destroy_params(param_record *table, int32_t count);

/* Element conversions, source first, destination second; n = 0 writes
 * nothing. */
void convert_float_to_dtype_t(const float *src, dtype_t *dst, uint64_t n);
void convert_dtype_t_to_float(const dtype_t *src, float *dst, uint64_t n);
void convert_dtype_t_to_dtype_t(const dtype_t *src, dtype_t *dst, uint64_t n);

/* True when v, read as a signed 32-bit number, is at least 2 and a power of
 * two (so 0, 1 and any value with the top bit set give false). */
bool is_power_of_two(uint32_t v);

#ifdef __cplusplus
}
#endif

#endif /* CALYX_NN_PARAMS_H */
