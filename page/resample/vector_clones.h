// TALLOWIN_VECTOR_CLONES before a function: where the processor has AVX2,
// the compiler's vectorised copy of it runs instead of the SSE2 one. For
// the few loops that are a resampler's whole cost.
//
// Not under ThreadSanitizer: the clones are chosen by an ifunc resolver that
// the dynamic loader runs before the sanitizer's runtime has started, and
// the instrumented resolver crashes the program at load.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define TALLOWIN_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TALLOWIN_VECTOR_CLONES
#endif
