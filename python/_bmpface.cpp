// bmpface._bmpface: the photo layer and the pixel API for Python. A source is a path (bytes, as
// os.fsencode gives it), a picture file's contents (any buffer), or a uint8 NumPy array H x W x 3
// or 4 (or H x W, grey); the package's __init__.py sorts the sources a caller may hold into these
// and turns results into records and exceptions. Files and contents are read by the command's own
// photo layer (format by content, libvips, upright, sRGB), so a picture gets the command's
// rectangle. The interpreter lock is released around every read, request, copy, crop and write.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bmpface.h"
#include "bmpface_pixels.h"
#include "photo/answer.h"
#include "photo/bmp_other.h"
#include "photo/format.h"
#include "photo/framing.h"
#include "photo/photo.h"
#include "photo/verify.h"

namespace py = pybind11;
using namespace bmpface;
using photo::PhotoInfo;
using photo::PhotoOptions;

namespace {

// A picture that could not be read, and an output that could not be written; __init__.py raises
// them again as bmpface.LoadError and bmpface.SaveError, with errno and filename.
struct LoadFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct SaveFailureTag {};
py::handle saveFailure;  // the class _bmpface.SaveFailure, an OSError: (errno, reason)

[[noreturn]] void NoMemory(const char* what) {
  PyErr_Format(PyExc_MemoryError, "out of memory for %s", what);
  throw py::error_already_set();
}

// What a source is, as __init__.py tells it.
enum Kind { kPath = 0, kContents = 1, kArray = 2 };

// One row of `width` adjacent pixels from red-first to blue-first order, with the pixel size
// known to the compiler, which can then use vector instructions.
template <int kChannels>
void SwapRow(const uint8_t* __restrict in, int32_t width, uint8_t* __restrict out) {
  for (int32_t x = 0; x < width; ++x, in += kChannels, out += kChannels) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    if (kChannels == 4) out[3] = in[3];
  }
}

// A picture as the library takes it, blue first: the caller's array where its rows can be read as
// they are, a packed copy where not (red first, grey, pixels or channels not adjacent, rows beyond
// the 32-bit range), or a picture read from a file or from its contents by the photo layer. Owns
// what it made; holds the array's buffer, so that the array cannot be resized under a request
// (NumPy's resize(refcheck=False) from another thread is unsafe whatever the callee does).
class Picture {
 public:
  Picture(const py::object& source, int kind, bool bgr, const PhotoOptions& options) {
    image_.pixels = nullptr;
    if (kind == kArray) {
      Take(source, bgr);
    } else {
      Read(source, kind == kPath, options);
    }
  }
  ~Picture() {
    if (read_) FreeBMP(image_);
    FreeBMP(copy_);
  }
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  // The pixels, with headers as for a packed BMP of them (for the crop and its file).
  const BMPImage& image() const { return image_; }
  const PhotoInfo& info() const { return info_; }

 private:
  void Read(const py::object& source, bool isPath, const PhotoOptions& options) {
    std::string error;
    int loaded;
    if (isPath) {
      const std::string path = source.cast<std::string>();
      py::gil_scoped_release release;
      loaded = photo::LoadPhoto(path.c_str(), options, image_, info_, error);
    } else {
      const py::buffer_info contents = py::reinterpret_borrow<py::buffer>(source).request();
      const auto* bytes = static_cast<const uint8_t*>(contents.ptr);
      const size_t size = static_cast<size_t>(contents.size * contents.itemsize);
      py::gil_scoped_release release;
      loaded = photo::LoadPhotoFromMemory(bytes, size, options, image_, info_, error);
    }
    if (loaded == 0) {
      if (error == "out of memory") NoMemory("the picture");
      throw LoadFailure(error);
    }
    read_ = true;
  }

  void Take(const py::object& source, bool bgr) {
    const py::array array = py::reinterpret_borrow<py::array>(source);
    if (!py::isinstance<py::array_t<uint8_t>>(array)) {  // an equivalent dtype, not a cast
      throw py::type_error("expected a uint8 array, got " +
                           py::str(array.dtype()).cast<std::string>() +
                           " (convert with array.astype(numpy.uint8), scaled to 0..255)");
    }
    const bool grey = array.ndim() == 2;
    if (!grey && (array.ndim() != 3 || (array.shape(2) != 3 && array.shape(2) != 4))) {
      throw py::value_error(
          "expected an array of shape (height, width), (height, width, 3) or "
          "(height, width, 4), got " +
          py::str(array.attr("shape")).cast<std::string>());
    }
    const py::ssize_t h = array.shape(0), w = array.shape(1), c = grey ? 3 : array.shape(2);
    if (h < 1 || w < 1) throw py::value_error("the picture is empty");
    if (w > INT32_MAX / c || h > INT32_MAX / (w * c)) {
      throw py::value_error("the picture exceeds 2 GiB, the library's size range");
    }
    buffer_ = array.request();  // held until the request ends
    const int32_t width = static_cast<int32_t>(w), height = static_cast<int32_t>(h);
    photo::DescribePackedPicture(image_, width, height, static_cast<int32_t>(c));
    info_.alpha = c == 4;
    // A grey array is read as three equal channels: the same byte three times, no stride.
    const py::ssize_t s0 = array.strides(0), s1 = array.strides(1);
    const py::ssize_t s2 = grey ? 0 : array.strides(2);
    const auto* base = static_cast<const uint8_t*>(buffer_.ptr);
    if (bgr && !grey && s2 == 1 && s1 == c && s0 >= w * c && s0 <= INT32_MAX &&
        (h - 1) * s0 + w * c <= INT32_MAX) {
      image_.pixels = const_cast<uint8_t*>(base);  // read, never written
      image_.rowStride = static_cast<int32_t>(s0);
      return;
    }
    // From the library's memory layer, which asks for huge pages for large blocks: a 12 MP copy
    // then costs a few faults instead of thousands.
    if (!photo::NewPackedPicture(copy_, width, height, image_.bytesPerPixel)) {
      NoMemory("a copy of the array");
    }
    py::gil_scoped_release release;
    Pack(base, s0, s1, s2, !bgr || grey);
    image_.pixels = copy_.pixels;
  }

  // Copies the array into packed rows, blue first, by its strides (any sign).
  void Pack(const uint8_t* base, py::ssize_t s0, py::ssize_t s1, py::ssize_t s2, bool redFirst) {
    const int32_t bpp = image_.bytesPerPixel;
    const py::ssize_t blue = redFirst ? 2 * s2 : 0, red = redFirst ? 0 : 2 * s2;
    const bool adjacent = redFirst && s2 == 1 && s1 == bpp;  // a red-first array as it comes
    for (int32_t y = 0; y < image_.height; ++y) {
      const uint8_t* in = base + y * s0;
      uint8_t* out = copy_.pixels + static_cast<size_t>(y) * static_cast<size_t>(image_.rowStride);
      if (adjacent) {
        (bpp == 4 ? SwapRow<4> : SwapRow<3>)(in, image_.width, out);
        continue;
      }
      for (int32_t x = 0; x < image_.width; ++x, in += s1, out += bpp) {
        out[0] = in[blue];
        out[1] = in[s2];
        out[2] = in[red];
        if (bpp == 4) out[3] = in[3 * s2];
      }
    }
  }

  BMPImage image_{};
  PhotoInfo info_;
  bool read_ = false;  // image_.pixels came from the photo layer
  py::buffer_info buffer_;
  BMPImage copy_{};  // the packed copy, when one was made
};

// Turns a pixel call's status into a result: true for a face, false for none; raises otherwise.
bool FaceOrNone(int32_t status) {
  if (status == BMPFACE_OK) return true;
  if (status == BMPFACE_NO_FACE) return false;
  if (status == BMPFACE_NO_MEMORY) NoMemory("the search");
  throw std::logic_error("the pixel call refused arguments the binding checked");
}

py::object RectTuple(const FaceRect& r) { return py::make_tuple(r.x, r.y, r.width, r.height); }

// The options of a call: the command's own records and limits, checked here once.
PhotoOptions MakeOptions(bool orient, double margin, const std::string& aspect,
                         const std::string& size, const std::string& format, int quality,
                         bool verify, const std::string& frame) {
  PhotoOptions options;
  options.orient = orient;
  photo::Framing& f = options.framing;
  if (!photo::FrameFromWord(frame, f.from)) {
    throw py::value_error("frame must be \"rule\", \"region\" or \"face\", got " + frame);
  }
  if (f.from == photo::FrameFrom::kFace && !verify) {
    throw py::value_error("frame=\"face\" needs verify=True");
  }
  std::string why;
  if (verify && !photo::VerifierAvailable(why)) throw py::value_error("verify: " + why);
  options.verify = verify;
  if (!(margin >= 0 && margin <= photo::kMaxMargin)) {
    char text[64];
    std::snprintf(text, sizeof text, "margin must be from 0 to %g", photo::kMaxMargin);
    throw py::value_error(text);
  }
  f.margin = margin;
  if (!aspect.empty() &&
      !photo::ParsePair(aspect, ':', photo::kMaxAspectTerm, f.aspectW, f.aspectH)) {
    throw py::value_error("aspect must be W:H or (W, H), such as \"35:45\", got " + aspect);
  }
  if (!size.empty() && !photo::ParsePair(size, 'x', photo::kMaxSide, f.sizeW, f.sizeH)) {
    throw py::value_error("size must be WxH or (W, H), such as \"413x531\", got " + size);
  }
  if (f.sizeW != 0 && !photo::BuiltWithVips()) {
    throw py::value_error("size needs libvips, and this bmpface was built without it");
  }
  if (!format.empty()) {
    options.format = photo::FormatOfWord(format);
    if (options.format == photo::Format::kUnknown) {
      throw py::value_error("format must be bmp, jpg, png, webp, tif, gif, heic or avif, got " +
                            format);
    }
  }
  if (quality != 0 && (quality < 1 || quality > 100)) {
    throw py::value_error("quality must be from 1 to 100");
  }
  options.quality = quality;
  return options;
}

// The search's choice on `p` and what the photo layer makes of it (verified, framed).
photo::PixelAnswer Decide(const Picture& p, const PhotoOptions& options) {
  photo::PixelAnswer answer;
  {
    py::gil_scoped_release release;
    photo::AnswerPixels(p.image(), options, answer);
  }
  FaceOrNone(answer.status);
  return answer;
}

// The (framed) face rectangle of `p`: true with it in `rect`, false without a face (or, with
// verify, without a confirmed one).
bool FindFace(const Picture& p, const PhotoOptions& options, FaceRect& rect) {
  const photo::PixelAnswer answer = Decide(p, options);
  rect = answer.rect;
  return answer.face;
}

py::object Detect(const py::object& source, int kind, bool bgr, const PhotoOptions& options) {
  const Picture p(source, kind, bgr, options);
  FaceRect rect{};
  return FindFace(p, options, rect) ? RectTuple(rect) : py::none();
}

// (crop array, whether its fourth channel is alpha), or None without a face.
py::object Crop(const py::object& source, int kind, bool bgr, const PhotoOptions& options) {
  const Picture p(source, kind, bgr, options);
  FaceRect rect{};
  if (!FindFace(p, options, rect)) return py::none();
  BMPImage crop{};
  std::string error;
  bool made;
  {
    py::gil_scoped_release release;
    made = photo::CropFace(p.image(), rect, options, p.info().alpha, crop, error);
  }
  if (!made) {
    if (error == "out of memory") NoMemory("the crop");
    throw py::value_error("cannot resize the crop: " + error);
  }
  const int32_t bpp = crop.bytesPerPixel;
  py::array_t<uint8_t> out({crop.height, crop.width, bpp});
  uint8_t* to = out.mutable_data();
  {
    py::gil_scoped_release release;
    const size_t row = static_cast<size_t>(crop.width) * static_cast<size_t>(bpp);
    for (int32_t y = 0; y < crop.height; ++y, to += row) {
      std::memcpy(to, PixelAt(crop, 0, y), row);
      if (!bgr) {  // back to red first
        for (size_t i = 0; i < row; i += static_cast<size_t>(bpp)) std::swap(to[i], to[i + 2]);
      }
    }
    FreeBMP(crop);
  }
  return py::make_tuple(std::move(out), p.info().alpha);
}

// Writes the crop as the file `output` in the format its name (or options.format) asks for, as
// the command writes it. The (framed) rectangle, or None without a face (nothing written).
py::object Extract(const py::object& source, int kind, bool bgr, const PhotoOptions& options,
                   const std::string& output) {
  // Where the command, built without libvips, writes a BMP whatever the name, Python says so.
  const photo::Format asked =
      options.format != photo::Format::kUnknown ? options.format : photo::FormatOfName(output);
  if (photo::NeedsVips(asked) && !photo::BuiltWithVips()) {
    throw py::value_error(std::string(photo::FormatName(asked)) +
                          " needs libvips, and this bmpface was built without it: write .bmp");
  }
  const Picture p(source, kind, bgr, options);
  FaceRect rect{};
  if (!FindFace(p, options, rect)) return py::none();
  std::string error;
  bool noMemory = false, written = false;
  int code = 0;
  {
    py::gil_scoped_release release;
    BMPImage crop{};
    std::vector<uint8_t> bytes;
    PhotoOptions unsized = options;  // EncodeCrop resizes
    unsized.framing.sizeW = unsized.framing.sizeH = 0;
    if (!photo::CropFace(p.image(), rect, unsized, p.info().alpha, crop, error)) {
      noMemory = true;
    } else {
      errno = 0;
      written = photo::EncodeCrop(crop, output, options, p.info(), bytes, error) &&
                photo::WriteFileBytes(output, bytes, error);
      code = errno;  // the system's reason for a failed write, where there is one
      FreeBMP(crop);
    }
  }
  if (noMemory || error == "out of memory") NoMemory("the crop");
  if (!written) {
    PyErr_SetObject(saveFailure.ptr(), py::make_tuple(code, error).ptr());
    throw py::error_already_set();
  }
  return RectTuple(rect);
}

py::object RectOrNone(bool given, const FaceRect& r) { return given ? RectTuple(r) : py::none(); }

// The answer and how sure it is: (word, rectangle, region box, pixel count, fill, score,
// runner-up, candidates, skin share, verified, verified face).
py::tuple Facts(const py::object& source, int kind, bool bgr, const PhotoOptions& options) {
  const Picture p(source, kind, bgr, options);
  const photo::PixelAnswer a = Decide(p, options);
  const BMPFaceFacts& f = a.facts;
  const bool found = f.found != 0;
  const FaceRect box{f.box.x, f.box.y, f.box.width, f.box.height};
  return py::make_tuple(
      a.word, RectOrNone(a.face, a.rect), RectOrNone(found, box), f.pixelCount, f.fill, f.score,
      f.runnerUp, f.candidates, f.skinShare,
      options.verify && found ? py::object(py::bool_(a.decision.verified)) : py::none(),
      RectOrNone(a.decision.verified, a.decision.face));
}

// Keeps every region the walk shows. Nothing may be thrown through the library's frames, so a
// failed append is remembered and raised afterwards.
struct Collected {
  std::vector<BMPFaceRegion> regions;
  bool full = false;
};

void Collect(void* context, const BMPFaceRegion* region) {
  auto* c = static_cast<Collected*>(context);
  if (c->full) return;
  try {
    c->regions.push_back(*region);
  } catch (const std::bad_alloc&) {
    c->full = true;
  }
}

py::list Regions(const py::object& source, int kind, bool bgr, const PhotoOptions& options) {
  const Picture p(source, kind, bgr, options);
  const BMPImage& i = p.image();
  Collected collected;
  BMPFaceRect rect;
  BMPFaceFacts facts{};
  facts.chosenRegion = -1;
  int32_t status;
  {
    py::gil_scoped_release release;
    status = BMPFaceWalkRegionsFacts(i.pixels, i.width, i.height, i.rowStride, i.bytesPerPixel,
                                     Collect, &collected, &rect, &facts);
  }
  FaceOrNone(status);
  if (collected.full) NoMemory("the list of regions");
  py::list list;
  for (size_t n = 0; n < collected.regions.size(); ++n) {
    const BMPFaceRegion& r = collected.regions[n];
    list.append(py::make_tuple(r.box.x, r.box.y, r.box.width, r.box.height, r.pixelCount,
                               r.failedTest, r.score,
                               facts.chosenRegion == static_cast<int64_t>(n)));
  }
  return list;
}

// A candidate test's rule in words, made by the library from its thresholds.
std::string TestWords(int test) {
  if (test < 1 || test > BMPFACE_CANDIDATE_TESTS) {
    throw py::value_error("test must be 1 to " + std::to_string(BMPFACE_CANDIDATE_TESTS));
  }
  std::vector<char> words(BMPFaceTestWords(test, nullptr, 0) + 1);
  BMPFaceTestWords(test, words.data(), words.size());
  return words.data();
}

}  // namespace

PYBIND11_MODULE(_bmpface, m) {
  m.doc() = "The compiled part of the bmpface package; use the functions of bmpface.";
  // The statuses of the C export BMPFaceExtract.
  m.attr("OK") = BMPFACE_OK;
  m.attr("LOAD_FAILED") = BMPFACE_LOAD_FAILED;
  m.attr("NO_FACE") = BMPFACE_NO_FACE;
  m.attr("EXTRACT_FAILED") = BMPFACE_EXTRACT_FAILED;
  m.attr("SAVE_FAILED") = BMPFACE_SAVE_FAILED;
  m.attr("__version__") = BMPFACE_VERSION;
  m.attr("HAVE_VIPS") = photo::BuiltWithVips();
  m.attr("PATH") = static_cast<int>(kPath);
  m.attr("CONTENTS") = static_cast<int>(kContents);
  m.attr("ARRAY") = static_cast<int>(kArray);
  // Memory that runs out anywhere in a call says so in words, not as "std::bad_alloc".
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const std::bad_alloc&) {
      PyErr_SetString(PyExc_MemoryError, "out of memory");
    }
  });
  py::register_exception<LoadFailure>(m, "LoadFailure", PyExc_OSError);
  saveFailure = py::exception<SaveFailureTag>(m, "SaveFailure", PyExc_OSError).release();
  py::class_<PhotoOptions>(m, "Options")
      .def(py::init(&MakeOptions), py::arg("orient") = true, py::arg("margin") = 0.0,
           py::arg("aspect") = "", py::arg("size") = "", py::arg("format") = "",
           py::arg("quality") = 0, py::arg("verify") = false, py::arg("frame") = "rule",
           "Checked options of a call (ValueError when out of range).");
  m.def("support", &photo::PhotoSupport, "Which picture formats this build reads, in words.");
  m.def("detect", &Detect, py::arg("source"), py::arg("kind"), py::arg("bgr"), py::arg("options"),
        "(x, y, width, height) of the (framed) face rectangle, or None.");
  m.def("crop", &Crop, py::arg("source"), py::arg("kind"), py::arg("bgr"), py::arg("options"),
        "(the crop as a new array, whether its fourth channel is alpha), or None.");
  m.def("extract", &Extract, py::arg("source"), py::arg("kind"), py::arg("bgr"), py::arg("options"),
        py::arg("output"),
        "Writes the crop as the file output (bytes); its rectangle, or None without a face.");
  m.def("facts", &Facts, py::arg("source"), py::arg("kind"), py::arg("bgr"), py::arg("options"),
        "(word, rect, region, pixel_count, fill, score, runner_up, candidates, skin_share, "
        "verified, face) of the search's choice.");
  m.def("regions", &Regions, py::arg("source"), py::arg("kind"), py::arg("bgr"), py::arg("options"),
        "(x, y, width, height, pixel_count, failed_test, score, chosen) of every skin region.");
  m.attr("CANDIDATE_TESTS") = BMPFACE_CANDIDATE_TESTS;
  m.def("test_words", &TestWords, py::arg("test"), "Candidate test `test`'s rule in words.");
}
