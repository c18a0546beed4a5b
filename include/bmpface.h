/* bmpface: finds the face region in a 24- or 32-bit BMP picture by skin colour and writes that
 * region as a new BMP file. Usable from C and C++. */
#ifndef BMPFACE_H_
#define BMPFACE_H_

#include <stddef.h>
#include <stdint.h>

/* A program that links the library's objects itself may define BMPFACE_API (empty) first. */
#ifndef BMPFACE_API
#if defined(_WIN32)
#if defined(BMPFACE_BUILDING)
#define BMPFACE_API __declspec(dllexport)
#else
#define BMPFACE_API __declspec(dllimport)
#endif
#else
#define BMPFACE_API __attribute__((visibility("default")))
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes of BMPFaceExtract. */
#define BMPFACE_OK 999             /* face found, cropped and written to outputPath */
#define BMPFACE_LOAD_FAILED 1      /* input missing, unreadable, or not a 24/32-bit BMP */
#define BMPFACE_NO_FACE 222        /* no face region found (also: out of memory while searching) */
#define BMPFACE_EXTRACT_FAILED 333 /* no memory for the output picture */
#define BMPFACE_SAVE_FAILED 444    /* output file could not be written */

/* Reads the BMP picture at inputPath, finds the face region and writes it as a new BMP file at
 * outputPath, in the input's pixel format. Paths are NUL-terminated wide strings (UTF-32 code
 * points on Linux, UTF-16 on Windows); a null path cannot be opened. Statuses other than 999 and 1
 * also print one line on standard output ("Error: ..."). Safe to call from several threads on
 * different files; keeps no state between calls. */
BMPFACE_API int32_t BMPFaceExtract(const wchar_t* inputPath, const wchar_t* outputPath);

#ifdef __cplusplus
}
#endif

#endif /* BMPFACE_H_ */
