#include "photo/format.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace bmpface::photo {
namespace {

struct Named {
  const char* word;
  Format format;
};
constexpr Named kWords[] = {
    {"bmp", Format::kBMP},   {"jpg", Format::kJPEG},  {"jpeg", Format::kJPEG},
    {"jpe", Format::kJPEG},  {"png", Format::kPNG},   {"webp", Format::kWebP},
    {"tif", Format::kTIFF},  {"tiff", Format::kTIFF}, {"gif", Format::kGIF},
    {"heic", Format::kHEIF}, {"heif", Format::kHEIF}, {"avif", Format::kAVIF},
};

bool Starts(const uint8_t* head, size_t size, size_t at, const char* text, size_t n) {
  return size >= at + n && std::memcmp(head + at, text, n) == 0;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The loaders bmpface uses, each for the format its first bytes show.
struct Loader {
  Format format;
  const char* name;
};
constexpr Loader kLoaders[] = {
    {Format::kJPEG, "VipsForeignLoadJpegSource"}, {Format::kPNG, "VipsForeignLoadPngSource"},
    {Format::kWebP, "VipsForeignLoadWebpSource"}, {Format::kTIFF, "VipsForeignLoadTiffSource"},
    {Format::kGIF, "VipsForeignLoadNsgifSource"}, {Format::kHEIF, "VipsForeignLoadHeifSource"},
    {Format::kAVIF, "VipsForeignLoadHeifSource"},
};

}  // namespace

bool IsLoaderInUse(const char* loader, Format format) {
  for (const Loader& l : kLoaders) {
    if (l.format == format && loader != nullptr && std::strcmp(l.name, loader) == 0) return true;
  }
  return false;
}

Format SniffFormat(const uint8_t* head, size_t size) {
  if (head == nullptr) return Format::kUnknown;
  if (Starts(head, size, 0, "BM", 2)) return Format::kBMP;
  if (Starts(head, size, 0, "\xFF\xD8\xFF", 3)) return Format::kJPEG;
  if (Starts(head, size, 0, "\x89PNG\r\n\x1A\n", 8)) return Format::kPNG;
  if (Starts(head, size, 0, "GIF87a", 6) || Starts(head, size, 0, "GIF89a", 6)) return Format::kGIF;
  if (Starts(head, size, 0, "RIFF", 4) && Starts(head, size, 8, "WEBP", 4)) return Format::kWebP;
  // Classic and big TIFF, in either byte order.
  if (Starts(head, size, 0, "II*\0", 4) || Starts(head, size, 0, "MM\0*", 4) ||
      Starts(head, size, 0, "II+\0", 4) || Starts(head, size, 0, "MM\0+", 4)) {
    return Format::kTIFF;
  }
  // ISO base media: a "ftyp" box whose major brand names a HEIF still picture.
  if (Starts(head, size, 4, "ftyp", 4) && size >= 12) {
    const char* brand = reinterpret_cast<const char*>(head + 8);
    if (std::memcmp(brand, "avif", 4) == 0 || std::memcmp(brand, "avis", 4) == 0) {
      return Format::kAVIF;
    }
    for (const char* heif : {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1"}) {
      if (std::memcmp(brand, heif, 4) == 0) return Format::kHEIF;
    }
  }
  return Format::kUnknown;
}

Format FormatOfWord(const std::string& word) {
  const std::string lower = Lower(word);
  for (const Named& n : kWords) {
    if (lower == n.word) return n.format;
  }
  return Format::kUnknown;
}

Format FormatOfName(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  const size_t slash = name.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return Format::kUnknown;
  }
  return FormatOfWord(name.substr(dot + 1));
}

uint32_t MaxSide(Format format) {
  switch (format) {
    case Format::kJPEG:
      return 65500;
    case Format::kWebP:
      return 16383;
    case Format::kGIF:
      return 65535;
    default:
      return 0;
  }
}

namespace {

// What each format is called: in words, as a file name's ending, and as a media type.
struct FormatWords {
  Format format;
  const char* name;
  const char* extension;
  const char* mediaType;
};
constexpr FormatWords kFormatWords[] = {
    {Format::kBMP, "BMP", ".bmp", "image/bmp"},     {Format::kJPEG, "JPEG", ".jpg", "image/jpeg"},
    {Format::kPNG, "PNG", ".png", "image/png"},     {Format::kWebP, "WebP", ".webp", "image/webp"},
    {Format::kTIFF, "TIFF", ".tif", "image/tiff"},  {Format::kGIF, "GIF", ".gif", "image/gif"},
    {Format::kHEIF, "HEIF", ".heic", "image/heif"}, {Format::kAVIF, "AVIF", ".avif", "image/avif"},
};
constexpr FormatWords kUnknownWords{Format::kUnknown, "unknown", "", "application/octet-stream"};

const FormatWords& WordsOf(Format format) {
  for (const FormatWords& w : kFormatWords) {
    if (w.format == format) return w;
  }
  return kUnknownWords;
}

}  // namespace

const char* FormatName(Format format) { return WordsOf(format).name; }
const char* FormatExtension(Format format) { return WordsOf(format).extension; }
const char* FormatMediaType(Format format) { return WordsOf(format).mediaType; }

}  // namespace bmpface::photo
