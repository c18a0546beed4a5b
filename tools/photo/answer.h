// The answer for a front door that holds the pixels itself (the Python package): the search, what
// --verify and the framing make of its choice, and the crop of it, as the command makes them.
#ifndef BMPFACE_TOOLS_PHOTO_ANSWER_H_
#define BMPFACE_TOOLS_PHOTO_ANSWER_H_

#include <cstdint>
#include <string>

#include "bmpface_pixels.h"
#include "photo/photo.h"

namespace bmpface::photo {

struct PixelAnswer {
  int32_t status = BMPFACE_NO_FACE;  // the search's: BMPFACE_OK, BMPFACE_NO_FACE, BMPFACE_NO_MEMORY
  bool face = false;                 // a face (confirmed, with --verify): `rect`
  const char* word = "";             // the outcome in the reports' words
  FaceRect rect{};                   // the framed rectangle
  BMPFaceFacts facts{};              // how sure the search was
  FaceDecision decision;             // what --verify found
};

// Answers for `image` (bytes per pixel 3 or 4, rows top-down) with `options`.
void AnswerPixels(const BMPImage& image, const PhotoOptions& options, PixelAnswer& answer);

// The crop of `rect` from `source`, resized to --size when one is asked (`alpha`: the fourth byte
// is alpha), in a buffer of the library's (release with FreeBMP). False with `error` saying why.
bool CropFace(const BMPImage& source, const FaceRect& rect, const PhotoOptions& options, bool alpha,
              BMPImage& crop, std::string& error);

// A packed picture of `width` x `height` pixels of `bytesPerPixel` bytes, its pixels uninitialised
// and from the library's memory layer, which asks for huge pages for large blocks (release with
// FreeBMP). False when memory runs out.
bool NewPackedPicture(BMPImage& image, int32_t width, int32_t height, int32_t bytesPerPixel);

}  // namespace bmpface::photo

#endif  // BMPFACE_TOOLS_PHOTO_ANSWER_H_
