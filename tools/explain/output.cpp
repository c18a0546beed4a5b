// Explain's writers: the drawing as a BMP file through the library's writer, or as PNG or JPEG
// bytes through libvips (or libpng).
#include "explain/output.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#ifdef BMPFACE_HAVE_PNG
#include <png.h>
#endif

#include "image/bmp_header.h"
#include "photo/backend.h"
#include "photo/options.h"

namespace bmpface::cli {
namespace {

// Through the library's BMP writer: 24 bits, bottom-up, the plain 54-byte header.
bool WriteBMP(const std::string& path, const Canvas& canvas, std::string& error) {
  BMPImage image{};
  DescribeBMP(image, canvas.width, canvas.height, 3);
  const uint64_t size = static_cast<uint64_t>(image.rowStride) * canvas.height;
  if (image.rowStride == 0 || size + kHeaderBytes > UINT32_MAX) {
    error = "the drawing is too large for a BMP file (4 GB at most): write a .png or .jpg";
    return false;
  }
  std::vector<uint8_t> pixels;
  try {
    pixels.assign(size, 0);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  for (int32_t y = 0; y < canvas.height; ++y) {
    for (int32_t x = 0; x < canvas.width; ++x) {
      const uint8_t* from = &canvas.rgb[(static_cast<size_t>(y) * canvas.width + x) * 3];
      uint8_t* to = &pixels[static_cast<size_t>(y) * image.rowStride + static_cast<size_t>(x) * 3];
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
    }
  }
  image.pixels = pixels.data();
  errno = 0;
  if (SaveBMP(path.c_str(), image) == 1) return true;
  error = errno != 0 ? std::strerror(errno) : "cannot write the file";
  return false;
}

}  // namespace

bool EncodeDrawing(Canvas& canvas, photo::Format format, std::vector<uint8_t>& bytes,
                   std::string& error) {
#if defined(BMPFACE_HAVE_VIPS)
  const photo::Backend* backend = photo::LoadBackend(error);
  if (backend == nullptr) return false;
  for (size_t i = 0; i + 2 < canvas.rgb.size(); i += 3) std::swap(canvas.rgb[i], canvas.rgb[i + 2]);
  photo::PixelsIn in;
  in.pixels = canvas.rgb.data();
  in.width = canvas.width;
  in.height = canvas.height;
  in.bytesPerPixel = 3;
  in.rowStride = static_cast<size_t>(canvas.width) * 3;
  photo::EncodeRequest request;
  request.format = format;
  request.quality = photo::kDefaultQuality;
  return backend->encode(in, request, bytes, error);
#elif defined(BMPFACE_HAVE_PNG)
  (void)format;
  (void)error;  // libpng says nothing worth passing on
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(canvas.width);
  image.height = static_cast<png_uint_32>(canvas.height);
  image.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (png_image_write_to_memory(&image, nullptr, &size, 0, canvas.rgb.data(), 0, nullptr) == 0) {
    return false;
  }
  bytes.assign(size, 0);
  const int encoded =
      png_image_write_to_memory(&image, bytes.data(), &size, 0, canvas.rgb.data(), 0, nullptr);
  png_image_free(&image);
  bytes.resize(size);
  return encoded != 0;
#else
  (void)canvas;
  (void)format;
  (void)bytes;
  error = "this bmpface has neither libvips nor libpng";
  return false;
#endif
}

bool WriteDrawing(const std::string& path, Canvas& canvas, photo::Format format,
                  std::string& error) {
  if (format == photo::Format::kBMP) return WriteBMP(path, canvas, error);
  std::vector<uint8_t> bytes;
  return EncodeDrawing(canvas, format, bytes, error) && photo::WriteFileBytes(path, bytes, error);
}

}  // namespace bmpface::cli
