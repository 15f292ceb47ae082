# Per-file flags of the network code, included by nn/CMakeLists.txt.
# On x86-64 the AVX2+FMA inner loops are compiled in one file of their own
# and chosen at run time, so the rest of the build stays baseline x86-64.
if(CALYX_X86_64 AND NOT CALYX_FORCE_SCALAR)
  get_filename_component(_calyx_nn_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  set_source_files_properties("${_calyx_nn_dir}/nn_simd_avx2.cpp" PROPERTIES
    COMPILE_OPTIONS "-mavx2;-mfma"
    COMPILE_DEFINITIONS "CALYX_NN_AVX2=1")
  set_source_files_properties("${_calyx_nn_dir}/nn_simd_dispatch.cpp" PROPERTIES
    COMPILE_DEFINITIONS "CALYX_NN_AVX2=1")
endif()
