// Which vector code this build may use. Configuring with BMPFACE_SIMD=OFF defines
// BMPFACE_PLAIN_KERNELS and leaves the plain loops alone, on any processor.
#ifndef BMPFACE_DETECT_SIMD_H_
#define BMPFACE_DETECT_SIMD_H_

#if !defined(BMPFACE_PLAIN_KERNELS) && defined(__SSE2__)
#define BMPFACE_SSE2 1
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define BMPFACE_AVX2 1  // compiled for every x86 build, run only where the processor has it
#endif
#endif

#endif  // BMPFACE_DETECT_SIMD_H_
