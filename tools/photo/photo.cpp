#include "photo/photo.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "image/bmp_header.h"
#include "photo/backend.h"
#include "photo/bmp_other.h"
#include "photo/limits.h"
#include "photo/verify.h"
#include "platform/platform.h"

namespace bmpface::photo {
namespace {

// Bytes a picture file may have: its pixels must fit the library's 32-bit sizes anyway.
constexpr uint64_t kMaxFileBytes = INT32_MAX;

// The bytes read first: enough for the format and for a BMP's headers up to its compression.
constexpr size_t kHeadBytes = 64;
static_assert(kHeadBytes >= kSniffBytes, "the first bytes must decide the format");

// Where a BMP file keeps biBitCount (the library reads its 40 header bytes from offset 14).
constexpr size_t kBitCountOffset = 28;

void FreeBlock(void* block) { PlatformFree(block); }

const char* LibraryRefusal() { return FactsOf(Outcome::kLoadFailed).reason; }

// The 24- and 32-bit BMPs go to the library's own reader (also those it then refuses).
bool LibraryReadsBMP(const uint8_t* head, size_t size) {
  if (size < kBitCountOffset + 2) return false;
  const int bits = head[kBitCountOffset] | head[kBitCountOffset + 1] << 8;
  return bits == 24 || bits == 32;
}

// Refuses, from its first bytes alone, a picture whose header declares more pixels than allowed:
// BMPs here, the formats libvips reads once their header is read (before any pixel).
bool DeclaredSizeAllowed(const uint8_t* head, size_t size, Format format,
                         const PhotoOptions& options, std::string& error) {
  uint64_t width = 0, height = 0;
  if (format != Format::kBMP || !DeclaredBMPSize(head, size, width, height) ||
      WithinPixelLimit(width, height, options.maxPixels)) {
    return true;
  }
  error = PixelLimitRefusal(width, height, options.maxPixels);
  return false;
}

// Refuses a JPEG of more scans than kMaxJPEGScans once `counter` has seen its bytes.
bool ScansAllowed(const JPEGScanCounter& counter, std::string& error) {
  if (counter.scans() <= kMaxJPEGScans) return true;
  error = "JPEG of more than " + std::to_string(kMaxJPEGScans) +
          " scans (each makes the decoder pass over the whole picture again)";
  return false;
}

// Everything but the 24- and 32-bit BMPs: from `descriptor`, an open file, when it is not -1
// (libvips formats only), else from the `size` bytes at `bytes`.
int DecodeBytes(const uint8_t* bytes, size_t size, int descriptor, const PhotoOptions& options,
                BMPImage& image, PhotoInfo& info, std::string& error) {
  if (info.format == Format::kBMP) {
    bool alpha = false;
    if (DecodeOtherBMP(bytes, size, options.maxPixels, image, alpha, error) == 0) return 0;
    info.reader = "bmpface-bmp";
    info.alpha = alpha;
    return 1;
  }
  if (!NeedsVips(info.format)) {
    error = BuiltWithVips() ? "not a picture bmpface reads"
                            : "not a BMP picture (this bmpface reads BMP only: built without "
                              "libvips)";
    return 0;
  }
  const Backend* backend = LoadBackend(error);
  if (backend == nullptr) {
    error = std::string(FormatName(info.format)) + " needs libvips: " + error;
    return 0;
  }
  DecodeRequest request;
  request.orient = options.orient;
  request.maxPixels = options.maxPixels;
  request.descriptor = descriptor;
  request.seconds = options.timeout;
  request.allocate = PlatformMalloc;
  request.release = FreeBlock;
  Decoded decoded;
  if (!backend->decode(bytes, size, request, decoded, error)) return 0;
  DescribePackedPicture(image, decoded.width, decoded.height, decoded.bands);
  image.pixels = decoded.pixels;
  info.reader = decoded.loader;
  info.orientation = decoded.orientation;
  info.turned = decoded.turned;
  info.alpha = decoded.alpha;
  info.conversion = std::move(decoded.conversion);
  info.icc = std::move(decoded.icc);
  return 1;
}

// An input file opened for reading through the library's file layer: only a regular file, and
// never by a call that could block (a FIFO or a device named as input is refused before a byte is
// read).
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { Close(); }

  bool Open(const char* path, std::string& error) {
    errno = 0;
    file_ = PlatformOpenRead(path);
    if (file_ == nullptr || PlatformFileSize(file_, size_) == 0) {
      error = file_ == nullptr && errno != 0 && errno != EINVAL ? std::strerror(errno)
                                                                : "not a regular file";
      return false;
    }
    return true;
  }

  uint64_t size() const { return size_; }

  void Close() {
    if (file_ != nullptr) PlatformClose(file_);
    file_ = nullptr;
  }

  bool Rewind() { return PlatformSeek(file_, 0) == 1; }
  PlatformFile* stream() const { return file_; }
  // The open file's descriptor, for libvips to read from.
  int descriptor() const {
#ifdef _WIN32
    return -1;  // no libvips there
#else
    return fileno(file_);
#endif
  }

  // Reads up to `count` bytes from `offset`; the number read (short only at the end), or -1.
  long long ReadAt(uint8_t* to, size_t count, uint64_t offset, std::string& error) {
    if (PlatformSeek(file_, offset) == 0) {
      error = "cannot read";
      return -1;
    }
    const size_t done = PlatformRead(to, 1, count, file_);
    if (done < count && std::ferror(file_) != 0) {
      error = std::string("cannot read: ") + std::strerror(errno);
      return -1;
    }
    return static_cast<long long>(done);
  }

 private:
  PlatformFile* file_ = nullptr;
  uint64_t size_ = 0;
};

// The file's first `limit` bytes, or all of it when it is shorter (as long as it is now; it may
// have shrunk since it was opened).
bool ReadStart(InputFile& file, uint64_t limit, std::vector<uint8_t>& bytes, std::string& error) {
  const uint64_t wanted = file.size() < limit ? file.size() : limit;
  if (wanted > kMaxFileBytes) {
    error = "file too large";
    return false;
  }
  try {
    bytes.resize(static_cast<size_t>(wanted));
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  const long long got = file.ReadAt(bytes.data(), bytes.size(), 0, error);
  if (got < 0) return false;
  bytes.resize(static_cast<size_t>(got));
  return true;
}

// Counts a JPEG file's scans, reading it a piece at a time, and refuses too many.
bool FileScansAllowed(InputFile& file, std::string& error) {
  constexpr size_t kPiece = size_t{64} << 10;
  std::vector<uint8_t> piece;
  try {
    piece.resize(kPiece);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  JPEGScanCounter counter;
  for (uint64_t at = 0; !counter.ended() && counter.scans() <= kMaxJPEGScans;) {
    const long long got = file.ReadAt(piece.data(), piece.size(), at, error);
    if (got < 0) return false;
    if (got == 0) break;
    counter.Feed(piece.data(), static_cast<size_t>(got));
    at += static_cast<uint64_t>(got);
  }
  return ScansAllowed(counter, error);
}

// Rows of a BMP file for `image`: its 54 header bytes as it holds them, then the rows bottom row
// first, each padded with zeros to the file's 4-byte rows. For a crop made by ExtractFaceRegion
// these are exactly the bytes SaveBMP writes.
bool BMPFileBytes(const BMPImage& image, std::vector<uint8_t>& bytes, std::string& error) {
  const int32_t fileStride = BMPRowStride(image.infoHeader.biBitCount, image.width);
  const size_t rowBytes = static_cast<size_t>(image.width) * image.bytesPerPixel;
  if (fileStride == 0 ||
      static_cast<uint64_t>(fileStride) * image.height > UINT32_MAX - kHeaderBytes) {
    error = "crop too large for a BMP file";
    return false;
  }
  uint8_t header[kHeaderBytes];
  PackBMPHeaders(image, header);
  try {
    bytes.assign(kHeaderBytes + static_cast<size_t>(fileStride) * image.height, 0);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  std::memcpy(bytes.data(), header, kHeaderBytes);
  for (int32_t y = 0; y < image.height; ++y) {
    std::memcpy(
        bytes.data() + kHeaderBytes + static_cast<size_t>(image.height - 1 - y) * fileStride,
        PixelAt(image, 0, y), rowBytes);
  }
  return true;
}

}  // namespace

bool BuiltWithVips() {
#ifdef BMPFACE_HAVE_VIPS
  return true;
#else
  return false;
#endif
}

std::string PhotoSupport() {
  if (!BuiltWithVips()) return "pictures: BMP only (built without libvips)";
  std::string error;
  const Backend* backend = LoadBackend(error);
  if (backend == nullptr) return "pictures: BMP only (" + error + ")";
  return std::string("pictures: BMP, and through libvips ") + backend->libraryVersion() +
         " JPEG, PNG, WebP, TIFF, GIF, HEIF and AVIF where it has the loader";
}

bool StartPhotoLayer(int threads, std::string& error) {
  const Backend* backend = LoadBackend(error);
  return backend != nullptr && backend->start(threads, error);
}

namespace {

// What the library's reader gave (`loaded`, 1 or 0) for a 24- or 32-bit BMP.
int TookLibraryBMP(int loaded, PhotoInfo& info, std::string& error) {
  if (loaded == 0) {
    error = LibraryRefusal();
    return 0;
  }
  info.reader = "bmpface";
  return 1;
}

}  // namespace

int LoadPhotoFromMemory(const uint8_t* bytes, size_t size, const PhotoOptions& options,
                        BMPImage& image, PhotoInfo& info, std::string& error) {
  image.pixels = nullptr;
  info = PhotoInfo{};
  error.clear();
  info.format = SniffFormat(bytes, size);
  if (!DeclaredSizeAllowed(bytes, size, info.format, options, error)) return 0;
  if (info.format == Format::kBMP && LibraryReadsBMP(bytes, size)) {
    return TookLibraryBMP(LoadBMPFromMemory(bytes, size, image), info, error);
  }
  if (info.format == Format::kJPEG) {
    JPEGScanCounter counter;
    counter.Feed(bytes, size);
    if (!ScansAllowed(counter, error)) return 0;
  }
  return DecodeBytes(bytes, size, -1, options, image, info, error);
}

int LoadPhoto(const char* path, const PhotoOptions& options, BMPImage& image, PhotoInfo& info,
              std::string& error, const RowSink* sink) {
  image.pixels = nullptr;
  info = PhotoInfo{};
  error.clear();
  if (path == nullptr) {
    error = "no path";
    return 0;
  }
  InputFile file;
  if (!file.Open(path, error)) return 0;
  uint8_t head[kHeadBytes];
  const long long got = file.ReadAt(head, sizeof head, 0, error);
  if (got < 0) return 0;
  const size_t headSize = static_cast<size_t>(got);
  info.format = SniffFormat(head, headSize);
  // Nothing beyond the first bytes is read, nor any memory obtained, for a picture whose header
  // declares too many pixels.
  if (!DeclaredSizeAllowed(head, headSize, info.format, options, error)) return 0;
  if (info.format == Format::kBMP && LibraryReadsBMP(head, headSize)) {
    // The library's reader on the file already open: the pixels read once into their buffer, as
    // before, and the mask made while they are read.
    const int read = file.Rewind() ? ReadBMP(file.stream(), image, sink) : 0;
    file.Close();
    return TookLibraryBMP(read, info, error);
  }
  if (info.format == Format::kUnknown) {
    return DecodeBytes(head, headSize, -1, options, image, info, error);
  }
  if (info.format == Format::kBMP) {
    // Other BMPs are decoded from memory: only the bytes their header can need are read.
    std::vector<uint8_t> bytes;
    if (!ReadStart(file, OtherBMPBytesWorthReading(head, headSize), bytes, error)) return 0;
    file.Close();
    if (SniffFormat(bytes.data(), bytes.size()) != info.format) {
      error = "the file changed while it was read";
      return 0;
    }
    return DecodeBytes(bytes.data(), bytes.size(), -1, options, image, info, error);
  }
  // libvips reads the file itself, a piece at a time (or mapped, for the loaders that need all of
  // it): never copied whole into memory first.
  if (info.format == Format::kJPEG && !FileScansAllowed(file, error)) return 0;
  return DecodeBytes(nullptr, 0, file.descriptor(), options, image, info, error);
}

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
  PixelsIn in;
  in.pixels = crop.pixels;
  in.width = crop.width;
  in.height = crop.height;
  in.bytesPerPixel = crop.bytesPerPixel;
  in.rowStride = static_cast<size_t>(crop.rowStride);
  in.alpha = info.alpha;
  int32_t outW = 0, outH = 0;
  OutputSize(crop.width, crop.height, f, outW, outH);
  const bool resized = outW != crop.width || outH != crop.height;
  if (format == Format::kBMP && !resized) return BMPFileBytes(crop, bytes, error);
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
    return backend->encode(in, request, bytes, error);
  }
  // A BMP of another size: resized through libvips, written in the library's layout, the fourth
  // byte of a 32-bit picture kept.
  BMPImage sized{};
  if (!backend->resize(in, outW, outH, PlatformMalloc, &sized.pixels, error)) return false;
  DescribePackedPicture(sized, outW, outH, crop.bytesPerPixel);
  const bool ok = BMPFileBytes(sized, bytes, error);
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

int PhotoLoadHook(void* context, const char* input, BMPImage& image, const RowSink* sink) {
  PhotoRequest& request = *static_cast<PhotoRequest*>(context);
  return LoadPhoto(input, *request.options, image, request.info, request.error, sink);
}

int DecideFace(const BMPImage& source, const PhotoOptions& options, const SkinRegion& chosen,
               FaceRect& rect, FaceDecision& decision, std::string& error) {
  decision = FaceDecision{};
  if (options.verify) {
    decision.verified = VerifyRegion(source, chosen, decision.face, error) == 1;
    if (!decision.verified) return kFaceNotConfirmed;
  }
  if (options.framing.Any()) {
    const FaceRect region{chosen.minX, chosen.minY, chosen.maxX - chosen.minX + 1,
                          chosen.maxY - chosen.minY + 1};
    const FrameFrom from = options.framing.from;
    const FaceRect& base = from == FrameFrom::kRegion ? region
                           : from == FrameFrom::kFace ? decision.face
                                                      : rect;
    rect = FrameFace(base, source.width, source.height, options.framing);
  }
  return 1;
}

int PhotoFaceHook(void* context, const BMPImage& source, FaceRect& rect) {
  PhotoRequest& request = *static_cast<PhotoRequest*>(context);
  request.face = rect;
  FaceDecision decision;
  const int decided =
      DecideFace(source, *request.options, request.facts.chosen, rect, decision, request.error);
  request.verified = decision.verified;
  request.verifiedFace = decision.face;
  if (decided != 1) return decided;
  return request.stopAfterFace ? 0 : 1;
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

RequestHooks PhotoHooks(PhotoRequest& request) {
  RequestHooks hooks{};
  hooks.context = &request;
  hooks.facts = &request.facts;
  hooks.load = PhotoLoadHook;
  hooks.face = PhotoFaceHook;
  hooks.save = PhotoSaveHook;
  return hooks;
}

}  // namespace bmpface::photo
