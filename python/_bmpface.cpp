// bmpface._bmpface: the pixel API and the request for Python. A source is a path (bytes, as
// os.fsencode gives it) or a uint8 NumPy array H x W x 3 or 4; the package's __init__.py turns
// the results into Rect and Region records. The interpreter lock is released around every
// request, copy and crop.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "api/outcomes.h"
#include "api/request.h"
#include "bmpface_pixels.h"
#include "image/bmp_image.h"
#include "platform/platform.h"

namespace py = pybind11;
using namespace bmpface;

namespace {

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

// Pixels for the pixel calls, blue first: the caller's array where its rows can be read as they
// are, a packed copy where not (red first, pixels or channels not adjacent, rows beyond the
// 32-bit range), or a loaded BMP file (its order is its own; `bgr` then names the crop's order). Owns what it made; holds the array's buffer,
// so that the array cannot be resized under a request.
class Pixels {
 public:
  Pixels(const py::object& source, bool bgr) {
    if (py::isinstance<py::bytes>(source)) {
      Load(source.cast<std::string>());
    } else {
      Take(source, bgr);
    }
  }
  ~Pixels() { FreeBMP(file_); }
  Pixels(const Pixels&) = delete;
  Pixels& operator=(const Pixels&) = delete;

  const uint8_t* data() const { return data_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  int32_t stride() const { return stride_; }
  int32_t bpp() const { return bpp_; }

 private:
  void Load(const std::string& path) {
    int loaded;
    {
      py::gil_scoped_release release;
      loaded = LoadBMP(path.c_str(), file_);
    }
    if (loaded == 0) {
      const std::string message = "cannot load " + path + ": " + FactsOf(Outcome::kLoadFailed).reason;
      PyErr_SetString(PyExc_OSError, message.c_str());
      throw py::error_already_set();
    }
    data_ = file_.pixels;
    width_ = file_.width;
    height_ = file_.height;
    stride_ = file_.rowStride;
    bpp_ = file_.bytesPerPixel;
  }

  void Take(const py::object& source, bool bgr) {
    const py::array array = py::reinterpret_borrow<py::array>(source);
    if (!py::isinstance<py::array_t<uint8_t>>(array)) {  // an equivalent dtype, not a cast
      throw py::type_error("expected a uint8 array, got " +
                           py::str(array.dtype()).cast<std::string>());
    }
    if (array.ndim() != 3 || (array.shape(2) != 3 && array.shape(2) != 4)) {
      throw py::value_error("expected an array of shape (height, width, 3 or 4), got " +
                            py::str(array.attr("shape")).cast<std::string>());
    }
    const py::ssize_t h = array.shape(0), w = array.shape(1), c = array.shape(2);
    if (h < 1 || w < 1) throw py::value_error("the picture is empty");
    if (w > INT32_MAX / c || h > INT32_MAX / (w * c)) {
      throw py::value_error("the picture exceeds 2 GiB, the library's size range");
    }
    buffer_ = array.request();  // held until the request ends
    width_ = static_cast<int32_t>(w);
    height_ = static_cast<int32_t>(h);
    bpp_ = static_cast<int32_t>(c);
    const py::ssize_t s0 = array.strides(0), s1 = array.strides(1), s2 = array.strides(2);
    const auto* base = static_cast<const uint8_t*>(buffer_.ptr);
    if (bgr && s2 == 1 && s1 == c && s0 >= w * c && s0 <= INT32_MAX &&
        (h - 1) * s0 + w * c <= INT32_MAX) {
      data_ = base;
      stride_ = static_cast<int32_t>(s0);
      return;
    }
    stride_ = width_ * bpp_;
    // From the library's memory layer, which asks for huge pages for large blocks: a 12 MP copy
    // then costs a few faults instead of thousands.
    copy_.reset(static_cast<uint8_t*>(
        PlatformMalloc(static_cast<size_t>(stride_) * static_cast<size_t>(height_))));
    if (copy_ == nullptr) throw std::bad_alloc();
    py::gil_scoped_release release;
    Pack(base, s0, s1, s2, !bgr);
    data_ = copy_.get();
  }

  // Copies the array into packed rows, blue first, by its strides (any sign).
  void Pack(const uint8_t* base, py::ssize_t s0, py::ssize_t s1, py::ssize_t s2, bool redFirst) {
    const py::ssize_t blue = redFirst ? 2 * s2 : 0, red = redFirst ? 0 : 2 * s2;
    const bool adjacent = redFirst && s2 == 1 && s1 == bpp_;  // a red-first array as it comes
    for (int32_t y = 0; y < height_; ++y) {
      const uint8_t* in = base + y * s0;
      uint8_t* out = copy_.get() + static_cast<size_t>(y) * static_cast<size_t>(stride_);
      if (adjacent) {
        (bpp_ == 4 ? SwapRow<4> : SwapRow<3>)(in, width_, out);
        continue;
      }
      for (int32_t x = 0; x < width_; ++x, in += s1, out += bpp_) {
        out[0] = in[blue];
        out[1] = in[s2];
        out[2] = in[red];
        if (bpp_ == 4) out[3] = in[3 * s2];
      }
    }
  }

  BMPImage file_{};
  py::buffer_info buffer_;
  struct Release {
    void operator()(uint8_t* block) const { PlatformFree(block); }
  };
  std::unique_ptr<uint8_t, Release> copy_;
  const uint8_t* data_ = nullptr;
  int32_t width_ = 0, height_ = 0, stride_ = 0, bpp_ = 0;
};

// Turns a pixel call's status into a result: true for a face, false for none; raises otherwise.
bool FaceOrNone(int32_t status) {
  if (status == BMPFACE_OK) return true;
  if (status == BMPFACE_NO_FACE) return false;
  if (status == BMPFACE_NO_MEMORY) throw std::bad_alloc();
  throw std::logic_error("the pixel call refused arguments the binding checked");
}

py::object RectTuple(const BMPFaceRect& r) { return py::make_tuple(r.x, r.y, r.width, r.height); }

int32_t Extract(const std::string& input, const std::string& output) {
  py::gil_scoped_release release;
  return FactsOf(RunRequest(input.c_str(), output.c_str(), nullptr, nullptr)).status;
}

// True with the face rectangle of `p` in `rect`, false without a face; raises otherwise.
bool FindFace(const Pixels& p, BMPFaceRect& rect) {
  int32_t status;
  {
    py::gil_scoped_release release;
    status = BMPFaceDetectPixels(p.data(), p.width(), p.height(), p.stride(), p.bpp(), &rect);
  }
  return FaceOrNone(status);
}

py::object Detect(const py::object& source, bool bgr) {
  const Pixels p(source, bgr);
  BMPFaceRect rect;
  return FindFace(p, rect) ? RectTuple(rect) : py::none();
}

py::object Crop(const py::object& source, bool bgr) {
  const Pixels p(source, bgr);
  BMPFaceRect rect;
  if (!FindFace(p, rect)) return py::none();
  py::array_t<uint8_t> crop({rect.height, rect.width, p.bpp()});
  uint8_t* out = crop.mutable_data();
  const size_t size = static_cast<size_t>(crop.nbytes());
  int32_t status;
  {
    py::gil_scoped_release release;
    status = BMPFaceExtractPixels(p.data(), p.width(), p.height(), p.stride(), p.bpp(), &rect,
                                  out, size);
    if (status == BMPFACE_OK && !bgr) {  // back to red first, for an array and for a file
      for (size_t i = 0; i < size; i += static_cast<size_t>(p.bpp())) std::swap(out[i], out[i + 2]);
    }
  }
  FaceOrNone(status);
  return std::move(crop);
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

py::list Regions(const py::object& source, bool bgr) {
  const Pixels p(source, bgr);
  Collected collected;
  BMPFaceRect rect;
  int32_t status;
  {
    py::gil_scoped_release release;
    status = BMPFaceWalkRegions(p.data(), p.width(), p.height(), p.stride(), p.bpp(), Collect,
                                &collected, &rect);
  }
  FaceOrNone(status);
  if (collected.full) throw std::bad_alloc();
  py::list list;
  for (const BMPFaceRegion& r : collected.regions) {
    list.append(py::make_tuple(r.box.x, r.box.y, r.box.width, r.box.height, r.pixelCount,
                               r.failedTest, r.score, r.leads != 0));
  }
  return list;
}

}  // namespace

PYBIND11_MODULE(_bmpface, m) {
  m.doc() = "The compiled part of the bmpface package; use the functions of bmpface.";
  // The statuses of extract(), from the one outcome table.
  m.attr("OK") = FactsOf(Outcome::kDone).status;
  m.attr("LOAD_FAILED") = FactsOf(Outcome::kLoadFailed).status;
  m.attr("NO_FACE") = FactsOf(Outcome::kNoFace).status;
  m.attr("EXTRACT_FAILED") = FactsOf(Outcome::kExtractFailed).status;
  m.attr("SAVE_FAILED") = FactsOf(Outcome::kSaveFailed).status;
  m.def("extract", &Extract, py::arg("input"), py::arg("output"),
        "Runs BMPFaceExtract's request on byte paths; returns its status. Prints nothing.");
  m.def("detect", &Detect, py::arg("source"), py::arg("bgr"),
        "(x, y, width, height) of the face rectangle, or None.");
  m.def("crop", &Crop, py::arg("source"), py::arg("bgr"),
        "The face rectangle's pixels as a new array, or None.");
  m.def("regions", &Regions, py::arg("source"), py::arg("bgr"),
        "(x, y, width, height, pixel_count, failed_test, score, leads) of every skin region.");
}
