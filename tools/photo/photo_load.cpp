// Loading a picture for the photo layer: the format decided from the first bytes, 24- and 32-bit
// BMPs through the library's reader, other BMPs through bmpface's own, the rest through libvips;
// the pixels upright, in 8-bit sRGB.
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "image/bmp_bytes.h"
#include "photo/backend.h"
#include "photo/bmp_other.h"
#include "photo/limits.h"
#include "photo/photo.h"
#include "platform/platform.h"
#include "sys/files.h"

namespace bmpface::photo {
namespace {

// Bytes a picture file may have: its pixels must fit the library's 32-bit sizes anyway.
constexpr uint64_t kMaxFileBytes = INT32_MAX;

// The bytes read first: enough for the format and for a BMP's headers up to its compression.
constexpr size_t kHeadBytes = 64;
static_assert(kHeadBytes >= kSniffBytes, "the first bytes must decide the format");
static_assert(kHeadBytes >= kAtCompression + 4, "the first bytes must hold a BMP's depth");

void FreeBlock(void* block) { PlatformFree(block); }

const char* LibraryRefusal() { return FactsOf(Outcome::kLoadFailed).reason; }

// The 24- and 32-bit BMPs go to the library's own reader (also those it then refuses).
bool LibraryReadsBMP(const uint8_t* head, size_t size) {
  if (size < kAtBitCount + 2) return false;
  const int bits = ReadLE16(head + kAtBitCount);
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
  int descriptor() const { return sys::DescriptorOf(file_); }

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

int PhotoLoadHook(void* context, const char* input, BMPImage& image, const RowSink* sink) {
  PhotoRequest& request = *static_cast<PhotoRequest*>(context);
  return LoadPhoto(input, *request.options, image, request.info, request.error, sink);
}

}  // namespace bmpface::photo
