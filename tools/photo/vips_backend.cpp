// The libvips side of the photo layer: decoding with the loaders bmpface trusts, conversion to
// 8-bit sRGB, turning upright while the rows are copied, resizing and encoding. Every libvips
// failure becomes an error message; nothing here exits or aborts.
#include <glib.h>
#include <gmodule.h>
#include <unistd.h>
#include <vips/vips.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "photo/backend.h"
#include "photo/limits.h"
#include "photo/metadata.h"
#include "photo/orient.h"

#ifndef BMPFACE_VERSION
#define BMPFACE_VERSION "unknown"
#endif
#ifndef BMPFACE_VIPS_MODULE_DIR
#define BMPFACE_VIPS_MODULE_DIR ""
#endif

namespace bmpface::photo {
namespace {

// One reference to a VipsImage (or any GObject), released when it goes.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* object) : object_(object) {}
  ~Ref() { Reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.object_, nullptr));
    return *this;
  }
  // A second reference to an object someone else holds.
  static Ref Shared(T* object) {
    g_object_ref(object);
    return Ref(object);
  }
  T* get() const { return object_; }
  T** out() {
    Reset();
    return &object_;
  }
  T* operator->() const { return object_; }
  void Reset(T* object = nullptr) {
    if (object_ != nullptr) g_object_unref(object_);
    object_ = object;
  }

 private:
  T* object_ = nullptr;
};
using Image = Ref<VipsImage>;

// libvips' error text (cleared), on one line, after `what`.
std::string VipsError(const char* what) {
  std::string text = what;
  char* buffer = vips_error_buffer_copy();
  if (buffer != nullptr) {
    std::string detail = buffer;
    g_free(buffer);
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) detail.pop_back();
    for (char& c : detail) {
      if (c == '\n') c = ';';
    }
    if (!detail.empty()) text += ": " + detail;
  }
  return text;
}

// Warnings of libvips' loaders would reach standard error mid-line; errors are what count here.
void DropLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

std::once_flag startOnce;
bool started = false;
std::string startError;

void StartOnce(int threads) {
  // libvips loads every module in its module folder at start-up (ImageMagick, poppler, OpenSlide,
  // JPEG XL: loaders this program blocks anyway), which costs as much as the rest of start-up.
  // VIPSHOME pointed at a file makes that folder a path that cannot exist; the one module used,
  // HEIF, is loaded by name when a picture needs it.
  const char* home = g_getenv("VIPSHOME");
  const std::string saved = home != nullptr ? home : "";
  g_setenv("VIPSHOME", "/dev/null", TRUE);
  const int failed = VIPS_INIT("bmpface");
  if (home != nullptr) {
    g_setenv("VIPSHOME", saved.c_str(), TRUE);
  } else {
    g_unsetenv("VIPSHOME");
  }
  if (failed != 0) {
    startError = VipsError("libvips did not start");
    return;
  }
  g_log_set_handler("VIPS",
                    static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                                G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                    DropLog, nullptr);
  vips_block_untrusted_set(TRUE);
  if (threads > 0) vips_concurrency_set(threads);
  // Each request reads one picture once: nothing is worth keeping between operations.
  vips_cache_set_max(0);
  vips_cache_set_max_mem(0);
  vips_cache_set_max_files(0);
  started = true;
}

bool Start(int threads, std::string& error) {
  std::call_once(startOnce, StartOnce, threads);
  if (!started) error = startError;
  return started;
}

// The HEIF loader and saver, from libvips' own module, loaded once on first need.
std::once_flag heifOnce;
void LoadHEIF() {
  if (vips_type_find("VipsOperation", "heifload_source") != 0) return;  // built in
  const std::string path = std::string(BMPFACE_VIPS_MODULE_DIR) + "/vips-heif.so";
  if (std::strlen(BMPFACE_VIPS_MODULE_DIR) == 0 || !g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) {
    return;
  }
  GModule* module = g_module_open(path.c_str(), G_MODULE_BIND_LAZY);
  if (module == nullptr) return;
  g_module_make_resident(module);
  vips_block_untrusted_set(TRUE);  // for anything the module registered
}

bool HasHEIF() {
  std::call_once(heifOnce, LoadHEIF);
  return vips_type_find("VipsOperation", "heifload_source") != 0;
}

bool IsHEIF(Format format) { return format == Format::kHEIF || format == Format::kAVIF; }

// To 8-bit sRGB with at most one alpha band: through the embedded profile where there is one
// (and it can be used), otherwise by libvips' colour-space rules (greyscale, CMYK through its
// built-in profile, 16-bit, Lab and the like).
bool ToSRGB8(VipsImage* in, Image& out, std::string& conversion, std::string& error) {
  Image current = Image::Shared(in);
  const bool sixteen = in->BandFmt != VIPS_FORMAT_UCHAR;
  const char* space = vips_enum_nick(VIPS_TYPE_INTERPRETATION, in->Type);
  bool converted = false;
  if (vips_image_get_typeof(in, VIPS_META_ICC_NAME) != 0) {
    Image t;
    if (vips_icc_transform(in, t.out(), "srgb", "embedded", TRUE, "depth", 8, "intent",
                           VIPS_INTENT_RELATIVE, nullptr) == 0) {
      current = std::move(t);
      conversion = std::string("embedded ICC profile (") + space + ") to sRGB";
      converted = true;
    } else {
      vips_error_clear();
      conversion = "embedded ICC profile unusable; ";
    }
  }
  if (!converted) {
    if (!vips_colourspace_issupported(current.get())) {
      Image t;
      if (vips_copy(current.get(), t.out(), "interpretation",
                    vips_image_guess_interpretation(current.get()), nullptr) != 0) {
        error = VipsError("cannot tell the picture's colours");
        return false;
      }
      current = std::move(t);
    }
    const VipsInterpretation from = current->Type;
    if (from != VIPS_INTERPRETATION_sRGB || current->BandFmt != VIPS_FORMAT_UCHAR) {
      Image t;
      if (vips_colourspace(current.get(), t.out(), VIPS_INTERPRETATION_sRGB, nullptr) != 0) {
        error = VipsError("cannot convert the picture to sRGB");
        return false;
      }
      current = std::move(t);
      conversion += std::string(vips_enum_nick(VIPS_TYPE_INTERPRETATION, from)) +
                    (sixteen ? " (16-bit)" : "") + " to 8-bit sRGB";
    } else if (!conversion.empty()) {
      conversion += "taken as sRGB";
    }
  }
  if (current->BandFmt != VIPS_FORMAT_UCHAR) {
    Image t;
    if (vips_cast_uchar(current.get(), t.out(), nullptr) != 0) {
      error = VipsError("cannot convert the picture to 8 bits");
      return false;
    }
    current = std::move(t);
  }
  if (current->Bands > 4) {  // more than one extra band: the colours and the first alpha
    Image t;
    if (vips_extract_band(current.get(), t.out(), 0, "n", 4, nullptr) != 0) {
      error = VipsError("cannot read the picture's bands");
      return false;
    }
    current = std::move(t);
  }
  if (current->Bands != 3 && current->Bands != 4) {
    error = "the picture's colours did not convert to RGB";
    return false;
  }
  out = std::move(current);
  return true;
}

struct Sink {
  UprightTarget target;
};

int WriteRows(VipsRegion* region, VipsRect* area, void* a) {
  const Sink& sink = *static_cast<const Sink*>(a);
  PlaceRows(sink.target, reinterpret_cast<const uint8_t*>(VIPS_REGION_ADDR(region, 0, area->top)),
            static_cast<size_t>(VIPS_REGION_LSKIP(region)), area->top, area->height);
  return 0;
}

constexpr const char* kReadFailed = "cannot read the picture";

// A source over the picture: the caller's descriptor, read as libvips needs (streamed, or mapped
// by libvips for the loaders that want the whole file), or bytes held in memory.
bool OpenSource(const uint8_t* bytes, size_t size, const DecodeRequest& request,
                Ref<VipsSource>& source, std::string& error) {
  if (request.descriptor >= 0) {
    // Every attempt reads from the start; libvips shares the descriptor's offset.
    if (::lseek(request.descriptor, 0, SEEK_SET) != 0) {
      error = std::string("cannot read the picture: ") + std::strerror(errno);
      return false;
    }
    source = Ref<VipsSource>(vips_source_new_from_descriptor(request.descriptor));
  } else {
    source = Ref<VipsSource>(vips_source_new_from_memory(bytes, size));
  }
  if (source.get() == nullptr) {
    error = VipsError(kReadFailed);
    return false;
  }
  return true;
}

// What the JPEG decoder says when picture data is missing or damaged: the rest of the picture
// would be filled with grey, which moves the face, so the picture is refused.
bool LostData(std::string error) {
  static const char* const kLost[] = {"premature end", "bad huffman code", "bad arithmetic code",
                                      "found marker", "must resync"};
  for (char& c : error) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* words : kLost) {
    if (error.find(words) != std::string::npos) return true;
  }
  return false;
}

// The "eval" signal's handler: stops the computation once the deadline (g_get_monotonic_time's
// microseconds) has passed.
void StopPastDeadline(VipsImage* image, VipsProgress*, void* deadline) {
  if (g_get_monotonic_time() > *static_cast<const gint64*>(deadline)) {
    vips_image_set_kill(image, TRUE);
  }
}

// The orientation the picture declares, 1 (as stored) when it declares none or one out of range.
int OrientationOf(VipsImage* image) {
  int orientation = 1;
  if (vips_image_get_typeof(image, VIPS_META_ORIENTATION) != 0 &&
      vips_image_get_int(image, VIPS_META_ORIENTATION, &orientation) != 0) {
    vips_error_clear();
    orientation = 1;
  }
  return ValidOrientation(orientation);
}

// The ICC profile `image` carries, into `icc` (left empty for none).
bool CopyICC(VipsImage* image, std::vector<uint8_t>& icc, std::string& error) {
  size_t size = 0;
  const void* blob = nullptr;
  if (vips_image_get_typeof(image, VIPS_META_ICC_NAME) == 0 ||
      vips_image_get_blob(image, VIPS_META_ICC_NAME, &blob, &size) != 0 || blob == nullptr) {
    return true;
  }
  try {
    icc.assign(static_cast<const uint8_t*>(blob), static_cast<const uint8_t*>(blob) + size);
  } catch (const std::bad_alloc&) {
    error = "out of memory";
    return false;
  }
  return true;
}

// The sRGB pixels of `srgb` (its sizes checked by the caller), turned by `turn`, into a buffer
// from request.allocate: libvips computes them strip by strip, stopped past `deadline` (0: none).
bool Render(Image& srgb, const DecodeRequest& request, int turn, gint64 deadline, Decoded& out,
            std::string& error) {
  const int32_t width = srgb->Xsize, height = srgb->Ysize, bands = srgb->Bands;
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  const bool swap = SwapsAxes(turn);
  const int32_t uprightW = swap ? height : width;
  uint8_t* target = static_cast<uint8_t*>(request.allocate(pixels * static_cast<size_t>(bands)));
  if (target == nullptr) {
    error = "out of memory";
    return false;
  }
  Sink sink{{turn, width, height, bands, target, static_cast<size_t>(uprightW) * bands}};
  if (deadline != 0) {
    // libvips reports progress as it computes each strip; past the deadline it is told to stop.
    vips_image_set_progress(srgb.get(), TRUE);
    g_signal_connect(srgb.get(), "eval", G_CALLBACK(StopPastDeadline), &deadline);
  }
  if (vips_sink_disc(srgb.get(), WriteRows, &sink) != 0) {
    request.release(target);
    error = deadline != 0 && g_get_monotonic_time() > deadline
                ? "decoding took more than " + std::to_string(request.seconds) + " s (--timeout)"
                : VipsError(kReadFailed);
    vips_error_clear();
    return false;
  }
  out.pixels = target;
  out.width = uprightW;
  out.height = swap ? width : height;
  out.bands = bands;
  out.alpha = bands == 4;
  out.turned = turn != 1;
  return true;
}

// One attempt at decoding with libvips' `failOn` level, given up at `deadline` (0: none).
bool DecodeAt(const uint8_t* bytes, size_t size, const DecodeRequest& request, Format format,
              VipsFailOn failOn, gint64 deadline, Decoded& out, std::string& error) {
  out = Decoded{};
  Ref<VipsSource> source;
  if (!OpenSource(bytes, size, request, source, error)) return false;
  const char* loader = vips_foreign_find_load_source(source.get());
  if (loader == nullptr) {
    error = VipsError("not a picture bmpface reads");
    return false;
  }
  // Only the loader in use for the format the first bytes show: every other one is refused,
  // whether libvips marks it untrusted or not.
  if (!IsLoaderInUse(loader, format)) {
    error = std::string("not a picture bmpface reads (libvips would use ") + loader + ")";
    return false;
  }
  out.loader = loader;
  Image image(vips_image_new_from_source(source.get(), "", "access", VIPS_ACCESS_SEQUENTIAL,
                                         "fail_on", failOn, nullptr));
  if (image.get() == nullptr) {
    error = VipsError(kReadFailed);
    return false;
  }
  // The header is all that has been read: a picture over the limit is refused before a pixel is
  // decoded or a byte of its pixels obtained.
  const int32_t width = image->Xsize, height = image->Ysize;
  if (!WithinPixelLimit(static_cast<uint64_t>(width), static_cast<uint64_t>(height),
                        request.maxPixels)) {
    error = PixelLimitRefusal(static_cast<uint64_t>(width), static_cast<uint64_t>(height),
                              request.maxPixels);
    return false;
  }
  out.orientation = OrientationOf(image.get());
  const int turn = request.orient ? out.orientation : 1;

  Image srgb;
  if (!ToSRGB8(image.get(), srgb, out.conversion, error)) return false;
  const int32_t bands = srgb->Bands;
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  if (srgb->Xsize != width || srgb->Ysize != height ||
      static_cast<uint64_t>(width) * bands > INT32_MAX ||
      static_cast<uint64_t>(height) * bands > INT32_MAX || pixels * bands > INT32_MAX) {
    error = "picture too large (" + std::to_string(width) + " x " + std::to_string(height) + ")";
    return false;
  }
  if (!CopyICC(srgb.get(), out.icc, error)) return false;
  return Render(srgb, request, turn, deadline, out, error);
}

bool Decode(const uint8_t* bytes, size_t size, const DecodeRequest& request, Decoded& out,
            std::string& error) {
  out = Decoded{};
  if (!Start(0, error)) return false;
  uint8_t head[kSniffBytes];
  size_t headSize = 0;
  if (request.descriptor >= 0) {
    const ssize_t got = ::pread(request.descriptor, head, sizeof head, 0);
    headSize = got > 0 ? static_cast<size_t>(got) : 0;
  } else {
    headSize = size < sizeof head ? size : sizeof head;
    if (headSize > 0) std::memcpy(head, bytes, headSize);
  }
  const Format format = SniffFormat(head, headSize);
  const gint64 deadline =
      request.seconds > 0 ? g_get_monotonic_time() + gint64{request.seconds} * 1000000 : 0;
  if (IsHEIF(format) && !HasHEIF()) {
    error = "this libvips has no HEIF loader";
    return false;
  }
  if (format != Format::kJPEG) {
    return DecodeAt(bytes, size, request, format, VIPS_FAIL_ON_TRUNCATED, deadline, out, error);
  }
  // A JPEG cut short and closed with an end mark only warns; so the first attempt fails on any
  // warning, and only a warning that loses no picture data (extra bytes between segments, an old
  // JFIF version: common in camera files) is let through, by a second attempt.
  if (DecodeAt(bytes, size, request, format, VIPS_FAIL_ON_WARNING, deadline, out, error)) {
    return true;
  }
  if (LostData(error)) {
    error = "damaged or truncated JPEG data (" + error + ")";
    return false;
  }
  // Refusals of bmpface's own (the loader, the limit) stand; libvips' own failures get the retry.
  if (error.rfind(kReadFailed, 0) != 0 || (deadline != 0 && g_get_monotonic_time() > deadline)) {
    return false;
  }
  error.clear();
  return DecodeAt(bytes, size, request, format, VIPS_FAIL_ON_TRUNCATED, deadline, out, error);
}

// The crop's BGR(A) rows as a libvips image of RGB(A) pixels, made region by region as the saver
// asks for them: no copy of the whole crop. `in` must outlive the image.
int GeneratePixels(VipsRegion* out, void*, void* a, void*, gboolean*) {
  const PixelsIn& in = *static_cast<const PixelsIn*>(a);
  const VipsRect& r = out->valid;
  const int bands = out->im->Bands;
  for (int y = r.top; y < r.top + r.height; ++y) {
    const uint8_t* from = in.pixels + static_cast<size_t>(y) * in.rowStride +
                          static_cast<size_t>(r.left) * in.bytesPerPixel;
    uint8_t* to = reinterpret_cast<uint8_t*>(VIPS_REGION_ADDR(out, r.left, y));
    for (int x = 0; x < r.width; ++x, from += in.bytesPerPixel, to += bands) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      if (bands == 4) to[3] = from[3];
    }
  }
  return 0;
}

// `keepFourth`: a fourth byte that is not alpha stays (a BMP's), rather than being dropped.
bool WrapPixels(const PixelsIn& in, bool keepFourth, Image& out, std::string& error) {
  const int bands = in.bytesPerPixel == 4 && (in.alpha || keepFourth) ? 4 : 3;
  out = Image(vips_image_new());
  vips_image_init_fields(out.get(), in.width, in.height, bands, VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
                         VIPS_INTERPRETATION_sRGB, 1.0, 1.0);
  if (vips_image_pipelinev(out.get(), VIPS_DEMAND_STYLE_THINSTRIP, nullptr) != 0 ||
      vips_image_generate(out.get(), nullptr, GeneratePixels, nullptr, const_cast<PixelsIn*>(&in),
                          nullptr) != 0) {
    error = VipsError("cannot take the crop's pixels");
    return false;
  }
  return true;
}

// Resizes to exactly width x height: Lanczos 3, with alpha (when `premultiply`) premultiplied
// around it.
bool ResizeImage(Image& image, int32_t width, int32_t height, bool premultiply,
                 std::string& error) {
  const double hscale = static_cast<double>(width) / image->Xsize;
  const double vscale = static_cast<double>(height) / image->Ysize;
  const bool alpha = image->Bands == 4 && premultiply;
  Image work = Image::Shared(image.get());
  Image t;
  bool ok = !alpha || vips_premultiply(work.get(), t.out(), nullptr) == 0;
  if (ok && alpha) work = std::move(t);
  ok = ok && vips_resize(work.get(), t.out(), hscale, "vscale", vscale, "kernel",
                         VIPS_KERNEL_LANCZOS3, nullptr) == 0;
  if (ok) work = std::move(t);
  // libvips rounds the scaled size; a result a pixel off is cut or extended at its edge.
  if (ok && (work->Xsize != width || work->Ysize != height)) {
    ok = vips_gravity(work.get(), t.out(), VIPS_COMPASS_DIRECTION_NORTH_WEST, width, height,
                      "extend", VIPS_EXTEND_COPY, nullptr) == 0;
    if (ok) work = std::move(t);
  }
  ok = ok && (!alpha || vips_unpremultiply(work.get(), t.out(), nullptr) == 0);
  if (ok && alpha) work = std::move(t);
  ok = ok && vips_cast_uchar(work.get(), image.out(), nullptr) == 0;
  if (!ok) error = VipsError("cannot resize the crop");
  return ok;
}

// `image` laid on white: its alpha used and dropped.
bool FlattenOnWhite(Image& image, std::string& error) {
  Image t;
  VipsArrayDouble* white = vips_array_double_newv(3, 255.0, 255.0, 255.0);
  const int failed = vips_flatten(image.get(), t.out(), "background", white, nullptr);
  vips_area_unref(VIPS_AREA(white));
  Image u;
  if (failed != 0 || vips_cast_uchar(t.get(), u.out(), nullptr) != 0) {
    error = VipsError("cannot flatten the crop's alpha");
    return false;
  }
  image = std::move(u);
  return true;
}

// `image` in the request's format, through libvips' saver for it, into `bytes`.
bool Save(Image& image, const EncodeRequest& request, gboolean strip, std::vector<uint8_t>& bytes,
          std::string& error) {
  const int q = request.quality;
  void* buffer = nullptr;
  size_t length = 0;
  int failed = -1;
  switch (request.format) {
    case Format::kJPEG:
      failed = vips_jpegsave_buffer(image.get(), &buffer, &length, "Q", q, "subsample_mode",
                                    VIPS_FOREIGN_SUBSAMPLE_ON, "strip", strip, nullptr);
      break;
    case Format::kPNG:
      failed = vips_pngsave_buffer(image.get(), &buffer, &length, "compression", 6, "strip", strip,
                                   nullptr);
      break;
    case Format::kWebP:
      failed = vips_webpsave_buffer(image.get(), &buffer, &length, "Q", q, "strip", strip, nullptr);
      break;
    case Format::kTIFF:
      failed = vips_tiffsave_buffer(
          image.get(), &buffer, &length, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE,
          "predictor", VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL, "strip", strip, nullptr);
      break;
    case Format::kGIF:
      failed = vips_gifsave_buffer(image.get(), &buffer, &length, "strip", strip, nullptr);
      break;
    case Format::kHEIF:
    case Format::kAVIF:
      failed =
          vips_heifsave_buffer(image.get(), &buffer, &length, "Q", q, "compression",
                               request.format == Format::kAVIF ? VIPS_FOREIGN_HEIF_COMPRESSION_AV1
                                                               : VIPS_FOREIGN_HEIF_COMPRESSION_HEVC,
                               "strip", strip, nullptr);
      break;
    default:
      error = "no libvips saver for this format";
      return false;
  }
  if (failed != 0 || buffer == nullptr) {
    g_free(buffer);
    error = VipsError("cannot encode the crop");
    return false;
  }
  try {
    bytes.assign(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + length);
  } catch (const std::bad_alloc&) {
    g_free(buffer);
    error = "out of memory";
    return false;
  }
  g_free(buffer);
  return true;
}

bool Encode(const PixelsIn& in, const EncodeRequest& request, std::vector<uint8_t>& bytes,
            std::string& error) {
  bytes.clear();
  if (!Start(0, error)) return false;
  if (IsHEIF(request.format) && !HasHEIF()) {
    error = "this libvips has no HEIF saver";
    return false;
  }
  Image image;
  if (!WrapPixels(in, false, image, error)) return false;
  if (request.sizeW > 0 && request.sizeH > 0 &&
      (request.sizeW != in.width || request.sizeH != in.height) &&
      !ResizeImage(image, request.sizeW, request.sizeH, in.alpha, error)) {
    return false;
  }
  const bool icc = request.icc != nullptr && !request.icc->empty();
  if (icc) {
    vips_image_set_blob_copy(image.get(), VIPS_META_ICC_NAME, request.icc->data(),
                             request.icc->size());
  }
  // JPEG has no alpha: transparent parts go on white.
  if (request.format == Format::kJPEG && image->Bands == 4 && !FlattenOnWhite(image, error)) {
    return false;
  }
  // Nothing of the input's metadata reaches the crop: the image above was made from bare pixels.
  // Without a profile to keep, `strip` also leaves out what libvips would write of its own; with
  // one, its EXIF block is taken out of the JPEG or WebP file below.
  if (!Save(image, request, icc ? FALSE : TRUE, bytes, error)) return false;
  if (request.format == Format::kJPEG) StripJPEGMetadata(bytes);
  if (request.format == Format::kWebP) StripWebPMetadata(bytes);
  return true;
}

bool Resize(const PixelsIn& in, int32_t width, int32_t height, Allocate allocate, uint8_t** out,
            std::string& error) {
  *out = nullptr;
  if (!Start(0, error)) return false;
  Image image;
  if (!WrapPixels(in, true, image, error) || !ResizeImage(image, width, height, in.alpha, error)) {
    return false;
  }
  size_t size = 0;
  void* memory = vips_image_write_to_memory(image.get(), &size);
  if (memory == nullptr) {
    error = VipsError("cannot resize the crop");
    return false;
  }
  const int bands = image->Bands;
  uint8_t* pixels = static_cast<uint8_t*>(allocate(size));
  if (pixels == nullptr) {
    g_free(memory);
    error = "out of memory";
    return false;
  }
  const uint8_t* from = static_cast<const uint8_t*>(memory);
  for (size_t i = 0; i + bands <= size; i += bands) {
    pixels[i] = from[i + 2];
    pixels[i + 1] = from[i + 1];
    pixels[i + 2] = from[i];
    if (bands == 4) pixels[i + 3] = from[i + 3];
  }
  g_free(memory);
  *out = pixels;
  return true;
}

const char* LibraryVersion() { return vips_version_string(); }

constexpr Backend kBackend{kBackendAbi, BMPFACE_VERSION, Start, LibraryVersion,
                           Decode,      Encode,          Resize};

}  // namespace

const Backend* VipsBackend() { return &kBackend; }

}  // namespace bmpface::photo
