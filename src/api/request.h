// One request: load the picture, find the face, crop it, write the crop. The only place the order
// of these steps is written; the export, the command's modes and the fuzzer all enter here.
#ifndef BMPFACE_API_REQUEST_H_
#define BMPFACE_API_REQUEST_H_

#include "api/outcomes.h"
#include "detect/face_search.h"
#include "image/bmp_image.h"
#include "image/crop.h"

namespace bmpface {

// What a face hook returns when a check of its own did not confirm the face.
constexpr int kFaceNotConfirmed = -1;

// Optional ways for a front door to take part in a request: plain function pointers called with
// `context`. A null member leaves its step as the library does it.
struct RequestHooks {
  void* context;
  // Replaces LoadBMP(input, image, sink), with its contract: on 1 `image` holds pixels obtained
  // with PlatformMalloc (the request releases them with FreeBMP); on 0 it holds none. A loader
  // that reads a BMP through the library's reader passes `sink` on, so that the skin mask is
  // built while the rows are read; otherwise the request builds it afterwards.
  int (*load)(void* context, const char* input, BMPImage& image, const RowSink* sink);
  // Sees the search (the mask and every region).
  const SearchVisitor* search;
  // Receives the facts of the search's choice (zeroed first), before `face` is called.
  SearchFacts* facts;
  // Called with the face rectangle once found. It may change the rectangle (which must keep an
  // area). Returns 1 to go on to the crop, 0 to end the request there with kFaceFound, or
  // kFaceNotConfirmed to end it with kUnverified.
  int (*face)(void* context, const BMPImage& source, FaceRect& rect);
  // Replaces SaveBMP(output, crop), with its contract.
  int (*save)(void* context, const char* output, const BMPImage& crop);
};

// Runs one request on byte paths. `hooks` may be null. When `rect` is not null it receives the
// rectangle that was cropped (or found, for kFaceFound). Prints nothing; the input is read and
// closed before the output is opened, so both may name the same file. Every pixel buffer is
// released before it returns.
Outcome RunRequest(const char* input, const char* output, const RequestHooks* hooks,
                   FaceRect* rect);

}  // namespace bmpface

#endif  // BMPFACE_API_REQUEST_H_
