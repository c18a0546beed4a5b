// Explain's writers: the drawing as a BMP, PNG or JPEG file, or as PNG or JPEG bytes.
#ifndef BMPFACE_TOOLS_EXPLAIN_OUTPUT_H_
#define BMPFACE_TOOLS_EXPLAIN_OUTPUT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "explain/draw.h"
#include "photo/photo.h"

namespace bmpface::cli {

// The drawing as a PNG or JPEG file in memory (libvips; libpng: PNG only). The canvas may be
// changed on the way. False with `error` (possibly empty) when it cannot be encoded.
bool EncodeDrawing(Canvas& canvas, photo::Format format, std::vector<uint8_t>& bytes,
                   std::string& error);

// Writes the drawing as the file `path` in `format` (BMP, PNG or JPEG). The canvas may be changed
// on the way. False with `error` (possibly empty) when it cannot be written.
bool WriteDrawing(const std::string& path, Canvas& canvas, photo::Format format,
                  std::string& error);

}  // namespace bmpface::cli

#endif  // BMPFACE_TOOLS_EXPLAIN_OUTPUT_H_
