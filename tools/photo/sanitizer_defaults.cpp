// Sanitized builds only (CI runs the suite under AddressSanitizer and the batch under
// ThreadSanitizer): what the sanitizers need to know about the codecs libvips loads, built into
// the program so that every run of it has it.
//   - LeakSanitizer cannot walk the dynamic TLS of the threads those codecs start here (it stops
//     with "Tracer caught signal 11"), so it leaves __tls_get_addr alone;
//   - the codecs' own leaks (x265 keeps a block per encoder) are not bmpface's;
//   - libvips hands pixels between its worker threads through GLib, whose futex-based locks
//     ThreadSanitizer does not see; the races it reports there are not bmpface's.
#if defined(__SANITIZE_ADDRESS__)
#define BMPFACE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BMPFACE_ASAN 1
#endif
#endif

#if defined(__SANITIZE_THREAD__)
#define BMPFACE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BMPFACE_TSAN 1
#endif
#endif

#ifdef BMPFACE_TSAN
extern "C" __attribute__((visibility("default"))) const char* __tsan_default_suppressions() {
  // Every library of the libvips side: libvips, GLib and the codecs and compressors it drives.
  return "race:libvips.so\nrace:libglib-2.0.so\nrace:libgobject-2.0.so\nrace:libgio-2.0.so\n"
         "race:libpng16.so\nrace:libspng.so\nrace:libz.so\nrace:libdeflate.so\n"
         "race:libjpeg.so\nrace:libwebp*.so\nrace:libsharpyuv.so\nrace:libtiff.so\n"
         "race:libheif.so\nrace:libde265.so\nrace:libx265.so\nrace:libaom.so\n"
         "race:libdav1d.so\nrace:libexif.so\nrace:liblcms2.so\nrace:libgif.so\n"
         "race:libcgif.so\nrace:libimagequant.so\nrace:liborc-0.4.so\nrace:libexpat.so\n"
         "race:libzstd.so\nrace:liblzma.so\nrace:libjbig.so\nrace:libLerc.so\n";
}
#endif

#ifdef BMPFACE_ASAN
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "intercept_tls_get_addr=0";
}

extern "C" __attribute__((visibility("default"))) const char* __lsan_default_options() {
  return "print_suppressions=0";
}

extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libx265.so\nleak:libde265.so\nleak:libheif.so\nleak:libaom.so\nleak:libdav1d.so\n"
         "leak:libfontconfig.so\n";
}
#endif
