// Text: the request's line on standard output, and paths converted from wide to narrow.
#include <cstdint>
#include <cstdio>
#include <cwchar>

#include "platform/platform.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace bmpface {

void PlatformPrint(const char* text) {
  // One fputs locks the stream once, so lines from concurrent requests do not mix.
  std::fputs(text, stdout);
  std::fflush(stdout);
}

#ifdef _WIN32
char* PlatformNarrowPath(const wchar_t* path) {
  if (path == nullptr) return nullptr;
  // The system's default code page, exactly: a character it lacks makes the path unopenable
  // instead of a best-fit look-alike that names another file (U+2215 as '/', U+221E as '8').
  // UTF-8 as that code page has no best fit and reports no default character; there an unpaired
  // surrogate fails the conversion instead. The buffer is sized for the narrow form.
  const UINT codePage = GetACP();
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* const lossyOut = utf8 ? nullptr : &lossy;
  const int bytes = WideCharToMultiByte(codePage, flags, path, -1, nullptr, 0, nullptr, lossyOut);
  if (bytes <= 0 || lossy) return nullptr;
  char* narrow = static_cast<char*>(PlatformMalloc(static_cast<size_t>(bytes)));
  if (narrow == nullptr) return nullptr;
  if (WideCharToMultiByte(codePage, flags, path, -1, narrow, bytes, nullptr, lossyOut) != bytes ||
      lossy) {
    PlatformFree(narrow);
    return nullptr;
  }
  return narrow;
}
#else
char* PlatformNarrowPath(const wchar_t* path) {
  if (path == nullptr) return nullptr;
  const size_t n = std::wcslen(path);
  if (n >= SIZE_MAX / 4 - 1) return nullptr;
  // wchar_t holds UTF-32 code points here; the narrow form is their UTF-8, at most 4 bytes each.
  char* narrow = static_cast<char*>(PlatformMalloc((n + 1) * 4));
  if (narrow == nullptr) return nullptr;
  unsigned char* out = reinterpret_cast<unsigned char*>(narrow);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = static_cast<uint32_t>(path[i]);
    if (c < 0x80) {
      *out++ = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      *out++ = static_cast<unsigned char>(0xC0 | (c >> 6));
      *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      if (c >= 0xD800 && c <= 0xDFFF) {  // a surrogate has no UTF-8 form
        PlatformFree(narrow);
        return nullptr;
      }
      *out++ = static_cast<unsigned char>(0xE0 | (c >> 12));
      *out++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else if (c <= 0x10FFFF) {
      *out++ = static_cast<unsigned char>(0xF0 | (c >> 18));
      *out++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    } else {
      PlatformFree(narrow);
      return nullptr;
    }
  }
  *out = '\0';
  return narrow;
}
#endif

}  // namespace bmpface
