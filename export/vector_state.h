// ISA-L's AVX-512 routines return with the upper halves of the vector registers still in use.
// Until they are cleared, every SSE instruction that follows (the compiler's copies of a few
// bytes, all over the program) waits on them: sheet rows of texts were made three times slower.
// Called after every ISA-L deflate, inflate and CRC call.
#pragma once

#if defined(IGXL_HAVE_ISAL) && (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define IGXL_CLEAR_UPPER_VECTORS 1
#endif

namespace igxl::xlsx::detail {

#ifdef IGXL_CLEAR_UPPER_VECTORS
__attribute__((target("avx"))) inline void zero_upper_avx() { _mm256_zeroupper(); }
#endif

inline void after_vector_code() {
#ifdef IGXL_CLEAR_UPPER_VECTORS
    static const bool has_avx = (__builtin_cpu_init(), __builtin_cpu_supports("avx"));
    if (has_avx) zero_upper_avx();
#endif
}

}  // namespace igxl::xlsx::detail
