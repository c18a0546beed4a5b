// Saving a crop for the photo layer: the output format, the file's bytes (BMP through the
// library's writer, other formats and resized BMPs through libvips) and writing them.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "image/bmp_header.h"
#include "photo/backend.h"
#include "photo/bmp_other.h"
#include "photo/photo.h"
#include "platform/platform.h"

namespace bmpface::photo {
namespace {

// The crop as the libvips module takes it.
PixelsIn PixelsOf(const BMPImage& crop, bool alpha) {
  PixelsIn in;
  in.pixels = crop.pixels;
  in.width = crop.width;
  in.height = crop.height;
  in.bytesPerPixel = crop.bytesPerPixel;
  in.rowStride = static_cast<size_t>(crop.rowStride);
  in.alpha = alpha;
  return in;
}

// The file the library's writer makes of `image`, in memory. A picture held with packed rows (a
// decoder's, the resizer's) is given the file's 4-byte rows first, through the crop.
bool BMPBytes(const BMPImage& image, std::vector<uint8_t>& bytes, std::string& error) {
  const uint64_t rowBytes =
      BMPRowBytes(image.infoHeader.biBitCount, static_cast<uint64_t>(image.width));
  if (image.width < 1 || image.height < 0 || rowBytes == 0 ||
      static_cast<uint64_t>(image.height) > (UINT32_MAX - kHeaderBytes) / rowBytes) {
    error = "crop too large for a BMP file";
    return false;
  }
  BMPImage padded{};
  const bool repad = image.rowStride != BMPRowStride(image.infoHeader.biBitCount, image.width);
  if (repad && ExtractFaceRegion(image, {0, 0, image.width, image.height}, padded) == 0) {
    error = "out of memory";
    return false;
  }
  const BMPImage& file = repad ? padded : image;
  try {
    bytes.resize(BMPFileSize(file));
  } catch (const std::bad_alloc&) {
    FreeBMP(padded);
    error = "out of memory";
    return false;
  }
  const int written = WriteBMPToMemory(file, bytes.data(), bytes.size());
  FreeBMP(padded);
  if (written == 1) return true;
  error = "crop too large for a BMP file";
  return false;
}

}  // namespace

Format OutputFormat(const std::string& outputName, const PhotoOptions& options,
                    const PhotoInfo& info) {
  if (!BuiltWithVips()) return Format::kBMP;  // as before libvips: a BMP whatever the name
  if (options.format != Format::kUnknown) return options.format;
  const Format byName = FormatOfName(outputName);
  if (byName != Format::kUnknown) return byName;
  return info.format != Format::kUnknown ? info.format : Format::kBMP;
}

bool LibraryWritesCrop(const std::string& outputName, const PhotoOptions& options,
                       const PhotoInfo& info) {
  return OutputFormat(outputName, options, info) == Format::kBMP && options.framing.sizeW == 0;
}

bool ResizeCrop(const BMPImage& crop, int32_t width, int32_t height, bool alpha, BMPImage& sized,
                std::string& error) {
  const Backend* backend = LoadBackend(error);
  sized = BMPImage{};
  if (backend == nullptr || !backend->resize(PixelsOf(crop, alpha), width, height, PlatformMalloc,
                                             &sized.pixels, error)) {
    return false;
  }
  DescribePackedPicture(sized, width, height, crop.bytesPerPixel);
  return true;
}

bool EncodeCrop(const BMPImage& crop, const std::string& outputName, const PhotoOptions& options,
                const PhotoInfo& info, std::vector<uint8_t>& bytes, std::string& error) {
  bytes.clear();
  error.clear();
  if (crop.pixels == nullptr) {
    error = "no crop";
    return false;
  }
  const Format format = OutputFormat(outputName, options, info);
  const Framing& f = options.framing;
  const uint32_t side = MaxSide(format);
  if (side != 0 && static_cast<uint32_t>(std::max(f.sizeW > 0 ? f.sizeW : crop.width,
                                                  f.sizeH > 0 ? f.sizeH : crop.height)) > side) {
    error = std::string(FormatName(format)) + " holds at most " + std::to_string(side) +
            " pixels a side";
    return false;
  }
  int32_t outW = 0, outH = 0;
  OutputSize(crop.width, crop.height, f, outW, outH);
  const bool resized = outW != crop.width || outH != crop.height;
  if (format == Format::kBMP && !resized) return BMPBytes(crop, bytes, error);
  const Backend* backend = LoadBackend(error);
  if (backend == nullptr) {
    error = (format == Format::kBMP ? std::string("--size") : std::string(FormatName(format))) +
            " needs libvips: " + error;
    return false;
  }
  if (format != Format::kBMP) {
    EncodeRequest request;
    request.format = format;
    request.quality = options.quality > 0 ? options.quality : kDefaultQuality;
    request.sizeW = resized ? outW : 0;
    request.sizeH = resized ? outH : 0;
    request.icc = &info.icc;
    return backend->encode(PixelsOf(crop, info.alpha), request, bytes, error);
  }
  // A BMP of another size: resized through libvips, written in the library's layout, the fourth
  // byte of a 32-bit picture kept.
  BMPImage sized{};
  if (!ResizeCrop(crop, outW, outH, info.alpha, sized, error)) return false;
  const bool ok = BMPBytes(sized, bytes, error);
  FreeBMP(sized);
  return ok;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string& error) {
  int created = 0;
  errno = 0;
  PlatformFile* file = PlatformOpenWrite(path.c_str(), created);
  const int ok =
      file != nullptr && PlatformWrite(bytes.data(), 1, bytes.size(), file) == bytes.size() ? 1 : 0;
  if (file != nullptr && PlatformFinishWrite(file, path.c_str(), created, ok) == 1) return true;
  error = errno != 0 ? std::strerror(errno) : "cannot write the file";
  return false;
}

int PhotoSaveHook(void* context, const char* output, const BMPImage& crop) {
  PhotoRequest& request = *static_cast<PhotoRequest*>(context);
  if (output == nullptr) return 0;
  if (LibraryWritesCrop(output, *request.options, request.info)) {
    errno = 0;
    if (SaveBMP(output, crop) == 1) return 1;
    request.error = errno != 0 ? std::strerror(errno) : "cannot write the file";
    return 0;
  }
  std::vector<uint8_t> bytes;
  if (!EncodeCrop(crop, output, *request.options, request.info, bytes, request.error)) return 0;
  return WriteFileBytes(output, bytes, request.error) ? 1 : 0;
}

}  // namespace bmpface::photo
