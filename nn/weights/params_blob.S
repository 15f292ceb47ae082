/* Embeds one weight file as the constant blob PARAMS_90 (read-only data,
 * 64-byte aligned) plus its byte length PARAMS_90_size (unsigned 32-bit).
 * CALYX_WEIGHTS_FILE is the quoted path of the file; the build defines it
 * in a small per-blob wrapper that includes this file. */
#ifndef CALYX_WEIGHTS_FILE
#error "CALYX_WEIGHTS_FILE must name the weight file to embed"
#endif

#if defined(__APPLE__)
#define BLOB_SYM _PARAMS_90
#define SIZE_SYM _PARAMS_90_size
    .const_data
#else
#define BLOB_SYM PARAMS_90
#define SIZE_SYM PARAMS_90_size
    .section .rodata
#endif

    .globl BLOB_SYM
    .p2align 6
BLOB_SYM:
    .incbin CALYX_WEIGHTS_FILE
blob_end:
#if defined(__ELF__)
    .type PARAMS_90, %object
    .size PARAMS_90, blob_end - PARAMS_90
#endif

    .globl SIZE_SYM
    .p2align 2
SIZE_SYM:
    .long blob_end - BLOB_SYM
#if defined(__ELF__)
    .type PARAMS_90_size, %object
    .size PARAMS_90_size, 4
#endif

#if defined(__ELF__)
    .section .note.GNU-stack,"",%progbits
#endif
