// Whole requests through the shipped shared library: statuses, exact standard output, files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "bmpface.h"
#include "test_support.h"

namespace bmpface::test {
namespace {

const std::string kNoFace = "Error: No face detected in image\n";
const std::string kSaveFailed = "Error: Failed to save output file\n";

// Runs one request; `printed` gets all that reached standard output.
int32_t Capture(const wchar_t* input, const wchar_t* output, std::string& printed) {
  int32_t status = 0;
  printed = CaptureStdout([&] { status = BMPFaceExtract(input, output); });
  return status;
}

// Varied background that is never skin (red stays at 95 or below) around one skin square.
Picture FacePicture(int32_t w, int32_t h, int32_t bits, int32_t x0, int32_t y0, int32_t side) {
  Picture p(w, h, bits);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      p.Set(x, y, BGR{uint8_t(x * 5 + y), uint8_t(y * 3 + x), uint8_t((x + 2 * y) % 96)});
  p.Fill(x0, y0, x0 + side - 1, y0 + side - 1, kSkin);
  return p;
}

// The file a crop of `p` must give: the rectangle's pixels, bottom-up, in p's format. Only for
// widths whose rows need no fill (the encoder marks fill bytes, the library zeroes them).
std::vector<uint8_t> CropFile(const Picture& p, int32_t x, int32_t y, int32_t w, int32_t h) {
  Picture crop(w, h, p.bitCount);
  for (int32_t i = 0; i < h; ++i) std::copy(p.At(x, y + i), p.At(x + w, y + i), crop.At(0, i));
  return EncodeBMP(crop);
}

// 110 x 100 with the square (40,40)-(69,69): the face rectangle is (37, 28, 36, 27).
const Picture kFace24 = FacePicture(110, 100, 24, 40, 40, 30);
const Picture kFace32 = FacePicture(110, 100, 32, 40, 40, 30);

struct Row {
  const char* name;
  const wchar_t* input;   // a name in the row's directory, an absolute path, or null
  const wchar_t* output;  // likewise
  int32_t status;
  std::string message;
  const Picture* crop;         // the picture whose crop `file` must now hold
  const char* file = nullptr;  // UTF-8 name in the row's directory
};

std::wstring InDir(const std::string& dir, const wchar_t* name) {
  return name[0] == L'/' ? name : std::wstring(dir.begin(), dir.end()) + L"/" + name;
}

TEST(ApiTest, StatusesMessagesAndFiles) {
  const std::vector<Row> rows = {
      {"missing input", L"absent.bmp", L"out.bmp", 1, "", nullptr},
      {"8-bit input", L"gray8.bmp", L"out.bmp", 1, "", nullptr},
      {"no face", L"plain.bmp", L"out.bmp", 222, kNoFace, nullptr},
      {"output in a missing directory", L"face24.bmp", L"no/out.bmp", 444, kSaveFailed, nullptr},
      {"null input", nullptr, L"out.bmp", 1, "", nullptr},
      {"null output", L"face24.bmp", nullptr, 444, kSaveFailed, nullptr},
      {"24-bit crop", L"face24.bmp", L"out.bmp", 999, "", &kFace24, "out.bmp"},
      {"32-bit crop", L"face32.bmp", L"out.bmp", 999, "", &kFace32, "out.bmp"},
      {"output replaces input", L"face24.bmp", L"face24.bmp", 999, "", &kFace24, "face24.bmp"},
      {"unpaired surrogate in input", L"face\xD800.bmp", L"out.bmp", 1, "", nullptr},
      {"unpaired surrogate in output", L"face24.bmp", L"out\xDC00.bmp", 444, kSaveFailed, nullptr},
#ifndef _WIN32  // UTF-32 paths written as UTF-8; Windows has its own test below
      {"full device", L"face24.bmp", L"/dev/full", 444, kSaveFailed, nullptr},
      {"non-ASCII paths", L"visage-\u00e9\u4e2d.bmp", L"sortie-\u00e9\u4e2d.bmp", 999, "", &kFace24,
       u8"sortie-\u00e9\u4e2d.bmp"},
      {"code point above U+10FFFF in input", L"face\x110000.bmp", L"out.bmp", 1, "", nullptr},
#endif
  };
  const std::vector<uint8_t> face24 = EncodeBMP(kFace24);
  std::vector<uint8_t> gray8 = face24;  // a detectable face if read as 24-bit
  PutLE16(gray8, kOffBiBitCount, 8);
  // plain.bmp is all skin, too wide for a face.
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"face32.bmp", EncodeBMP(kFace32)},
      {"gray8.bmp", gray8},
      {"plain.bmp", EncodeBMP(Picture(110, 100, 24, kSkin))}};
  // Copies of face24: the non-ASCII input, and what a lax conversion of the bad code points of
  // the rows would open.
  const std::vector<std::string> copies = {"face24.bmp",
                                           "face.bmp",
#ifndef _WIN32  // Windows names hold no '?'
                                           u8"visage-\u00e9\u4e2d.bmp",
                                           "face?.bmp",
                                           "face\xEF\xBF\xBD.bmp",
                                           "face\xED\xA0\x80.bmp",
                                           "face\xF4\x90\x80\x80.bmp"
#endif
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    for (const auto& [name, bytes] : files) WriteFile(dir.Path(name), bytes);
    for (const std::string& name : copies) WriteFile(dir.Path(name), face24);
    const std::wstring input = row.input ? InDir(dir.path(), row.input) : L"";
    const std::wstring output = row.output ? InDir(dir.path(), row.output) : L"";
    std::string printed;
    EXPECT_EQ(Capture(row.input ? input.c_str() : nullptr, row.output ? output.c_str() : nullptr,
                      printed),
              row.status);
    EXPECT_EQ(printed, row.message);
    const auto entries = std::distance(std::filesystem::directory_iterator(dir.path()), {});
    if (row.status != 999) {
      EXPECT_EQ(size_t(entries), files.size() + copies.size()) << "a file was created";
    }
    if (row.crop) {
      EXPECT_EQ(ReadFile(dir.Path(row.file)), CropFile(*row.crop, 37, 28, 36, 27));
    }
  }
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
#endif
}

#ifdef _WIN32
// Paths reach the file system in the system's code page (rows for 1252). A character it lacks
// leaves a path that cannot be opened, even where a file of that UTF-16 name exists, and never a
// best-fit look-alike that names another file: U+221E as '8', U+2215 as '/'.
TEST(ApiTest, WindowsPathsThroughTheCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "rows written for code page 1252, not " << GetACP();
  namespace fs = std::filesystem;
  const struct {
    const wchar_t* input;
    const wchar_t* output;
    int32_t status;
    std::string message;
  } rows[] = {
      {L"visage-\u00e9.bmp", L"sortie-\u00e9.bmp", 999, ""},
      {L"visage-\u4e2d.bmp", L"out.bmp", 1, ""},
      {L"face24.bmp", L"sortie-\u4e2d.bmp", 444, kSaveFailed},
      {L"face\u221e.bmp", L"out.bmp", 1, ""},
      {L"sub\u2215face24.bmp", L"out.bmp", 1, ""},
      {L"face24.bmp", L"face\u221e.bmp", 444, kSaveFailed},
  };
  const fs::path names[] = {L"face24.bmp",     L"visage-\u00e9.bmp", L"visage-\u4e2d.bmp",
                            L"face\u221e.bmp", L"face8.bmp",         L"sub/face24.bmp"};
  const std::vector<uint8_t> face24 = EncodeBMP(kFace24);
  for (const auto& row : rows) {
    SCOPED_TRACE(fs::path(row.input).u8string() + " -> " + fs::path(row.output).u8string());
    TempDir dir;
    const fs::path root(dir.path());
    fs::create_directory(root / "sub");
    WriteFile(dir.Path("face24.bmp"), face24);
    for (const fs::path& name : names)
      if (name != "face24.bmp") fs::copy_file(root / "face24.bmp", root / name);
    std::string printed;
    EXPECT_EQ(Capture((root / row.input).c_str(), (root / row.output).c_str(), printed),
              row.status);
    EXPECT_EQ(printed, row.message);
    // Every file as it was, and the crop where one was written.
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      ++files;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
      const bool written = row.status == 999 && entry.path() == root / row.output;
      EXPECT_EQ(bytes, written ? CropFile(kFace24, 37, 28, 36, 27) : face24)
          << entry.path().u8string();
    }
    EXPECT_EQ(files, std::size(names) + (row.status == 999 ? 1 : 0));
  }
}
#endif

// Each thread crops its own picture, repeatedly; every file must equal the serial result.
TEST(ApiTest, ConcurrentCallsMatchSerial) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 4;
  TempDir dir;
  auto file = [&](const std::string& kind, int t, int r = 0) {
    return dir.Path(kind + std::to_string(t) + "-" + std::to_string(r) + ".bmp");
  };
  auto wide = [](const std::string& path) { return std::wstring(path.begin(), path.end()); };
  for (int t = 0; t < kThreads; ++t) {
    const Picture p =
        FacePicture(100 + 10 * t, 90 + 7 * t, t % 2 ? 32 : 24, 10 + 3 * t, 5 + 2 * t, 30 + 4 * t);
    WriteFile(file("in", t), EncodeBMP(p));
    ASSERT_EQ(BMPFaceExtract(wide(file("in", t)).c_str(), wide(file("serial", t)).c_str()), 999);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    std::vector<std::wstring> paths{wide(file("in", t))};  // built here: threads share no state
    for (int r = 0; r < kRounds; ++r) paths.push_back(wide(file("out", t, r)));
    threads.emplace_back([paths] {
      for (size_t r = 1; r < paths.size(); ++r) BMPFaceExtract(paths[0].c_str(), paths[r].c_str());
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int r = 0; r < kRounds; ++r) {  // a failed request leaves no file, so no match
      EXPECT_EQ(ReadFile(file("out", t, r)), ReadFile(file("serial", t))) << t << "/" << r;
    }
  }
}

}  // namespace
}  // namespace bmpface::test
