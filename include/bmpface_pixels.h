/* bmpface pixels: the face search of bmpface on pixels already in memory (a camera frame, a decoded
 * photo), with no file and no output on any stream. Usable from C and C++; link bmpface_pixels
 * (CMake: bmpface::pixels, pkg-config: bmpface-pixels).
 *
 * Pixels are rows of blue, green, red (and a fourth byte that is not read when bytesPerPixel is
 * 4), top row first; row y starts `stride` bytes after row y - 1. The buffer must hold
 * (height - 1) * stride + width * bytesPerPixel bytes; nothing beyond is read.
 *
 * Statuses, shared with BMPFaceExtract (bmpface.h):
 *   BMPFACE_OK             a face was found (and cropped, for BMPFaceExtractPixels)
 *   BMPFACE_NO_FACE        the whole picture was searched and no region is a face
 *   BMPFACE_BAD_ARGUMENTS  a null pointer, a size below 1, a stride below width * bytesPerPixel,
 *                          bytesPerPixel other than 3 or 4, or sizes beyond the 32-bit signed
 *                          range; decided before any pixel is read
 *   BMPFACE_NO_MEMORY      memory ran out. Unlike BMPFaceExtract, which reports memory that runs
 *                          out during the search as "no face", these calls say so: a caller with
 *                          pixels in memory can retry or shed load, not take a wrong answer.
 *
 * Calls keep no state and share no memory: threads may call them at once, also on one picture. */
#ifndef BMPFACE_PIXELS_H_
#define BMPFACE_PIXELS_H_

#include <stddef.h>
#include <stdint.h>

#include "bmpface.h"

#if defined(_WIN32)
#if defined(BMPFACE_PIXELS_BUILDING)
#define BMPFACE_PIXELS_API __declspec(dllexport)
#elif defined(BMPFACE_PIXELS_STATIC)
#define BMPFACE_PIXELS_API
#else
#define BMPFACE_PIXELS_API __declspec(dllimport)
#endif
#else
#define BMPFACE_PIXELS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define BMPFACE_BAD_ARGUMENTS BMPFACE_LOAD_FAILED
#define BMPFACE_NO_MEMORY BMPFACE_EXTRACT_FAILED

/* A rectangle of the picture: top-left corner (column, row from the top) and size in pixels. */
typedef struct BMPFaceRect {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
} BMPFaceRect;

/* Finds the face and stores its rectangle, the one BMPFaceExtract would crop, in `rect`. Returns
 * BMPFACE_OK, or another status with `rect` unchanged. */
BMPFACE_PIXELS_API int32_t BMPFaceDetectPixels(const uint8_t* pixels, int32_t width, int32_t height,
                                               int32_t stride, int32_t bytesPerPixel,
                                               BMPFaceRect* rect);

/* Copies the rectangle `rect` (from BMPFaceDetectPixels) of the picture into `crop`: rect->height
 * rows of rect->width * bytesPerPixel bytes each, top row first, with no fill between rows, in the
 * picture's own byte order. `cropSize` is the size of `crop` in bytes and must be at least that.
 * The rectangle must lie inside the picture and have an area (else BMPFACE_BAD_ARGUMENTS).
 * Returns BMPFACE_OK, BMPFACE_BAD_ARGUMENTS or BMPFACE_NO_MEMORY (`crop` then unchanged). The crop
 * holds the same pixels as the file BMPFaceExtract writes, without its header and row fill. */
BMPFACE_PIXELS_API int32_t BMPFaceExtractPixels(const uint8_t* pixels, int32_t width,
                                                int32_t height, int32_t stride,
                                                int32_t bytesPerPixel, const BMPFaceRect* rect,
                                                uint8_t* crop, size_t cropSize);

/* One skin region as the search judged it. */
typedef struct BMPFaceRegion {
  BMPFaceRect box;    /* the region's bounding box */
  int32_t pixelCount; /* its skin pixels */
  /* The first candidate test it failed, 1 to BMPFACE_CANDIDATE_TESTS (BMPFaceTestWords says
   * which in words), 0 when it passed them all. */
  int32_t failedTest;
  float score; /* a candidate's score, (1 - centre row / height) * pixelCount; 0 for the rest */
  /* 1 when the region scored above every region before it. The search chooses the last region
   * reported with 1 (BMPFaceFacts's chosenRegion names it) and makes the face rectangle from it. */
  int32_t leads;
} BMPFaceRegion;

/* Called once for every skin region, in the order the search meets them (by their first pixel,
 * top to bottom, left to right). The region record lives only during the call. */
typedef void (*BMPFaceRegionVisitor)(void* context, const BMPFaceRegion* region);

/* Runs the search of BMPFaceDetectPixels and shows `visit` (which may be null) every region, for
 * tools that explain the choice. Returns and fills `rect` as BMPFaceDetectPixels; a region walk
 * cut short by BMPFACE_NO_MEMORY may have shown some regions. */
BMPFACE_PIXELS_API int32_t BMPFaceWalkRegions(const uint8_t* pixels, int32_t width, int32_t height,
                                              int32_t stride, int32_t bytesPerPixel,
                                              BMPFaceRegionVisitor visit, void* context,
                                              BMPFaceRect* rect);

/* How sure the search was of its choice, to tell the answers worth doubting. */
typedef struct BMPFaceFacts {
  int32_t found;      /* 1 when a region was chosen; the fields up to runnerUp are 0 otherwise */
  BMPFaceRect box;    /* the chosen region's bounding box (the face rectangle is made from it) */
  int32_t pixelCount; /* its skin pixels */
  float fill;         /* pixelCount / the box's area: at least test 6's minimum; a face alone
                       * fills about seven tenths */
  float score;        /* its score, as BMPFaceRegion's */
  /* The best score of every other candidate, 0 when it was the only one: near `score`, the
   * choice was close and a little noise may change it. */
  float runnerUp;
  int32_t candidates; /* regions that passed every candidate test */
  float skinShare;    /* the share of the whole picture that is skin, 0 to 1 */
  /* The chosen region's place among the regions the walk showed (0 for the first), -1 when none
   * was chosen. Added in 1.1.0: programs built with an earlier header must be built again. */
  int32_t chosenRegion;
} BMPFaceFacts;

/* BMPFaceWalkRegions that also fills `facts` (which may be null) when it returns BMPFACE_OK or
 * BMPFACE_NO_FACE; with another status `facts` is unchanged. */
BMPFACE_PIXELS_API int32_t BMPFaceWalkRegionsFacts(const uint8_t* pixels, int32_t width,
                                                   int32_t height, int32_t stride,
                                                   int32_t bytesPerPixel,
                                                   BMPFaceRegionVisitor visit, void* context,
                                                   BMPFaceRect* rect, BMPFaceFacts* facts);

/* The number of candidate tests; BMPFaceRegion's failedTest is one of them or 0. */
#define BMPFACE_CANDIDATE_TESTS 7

/* Writes candidate test `test`'s rule in words ("narrower than ... pixels", made from the
 * library's own thresholds) into `words`, as snprintf does: at most `size` bytes with the
 * terminating zero. Returns the length of the whole text; 0 (and an empty text) for a test
 * outside 1 to BMPFACE_CANDIDATE_TESTS. */
BMPFACE_PIXELS_API size_t BMPFaceTestWords(int32_t test, char* words, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* BMPFACE_PIXELS_H_ */
