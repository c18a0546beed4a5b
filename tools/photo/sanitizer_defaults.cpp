// Sanitized builds only (CI runs the suite under AddressSanitizer): what the sanitizers need to
// know about the codecs libvips loads, built into the program so that every run of it has it.
//   - LeakSanitizer cannot walk the dynamic TLS of the threads those codecs start here (it stops
//     with "Tracer caught signal 11"), so it leaves __tls_get_addr alone;
//   - the codecs' own leaks (x265 keeps a block per encoder) are not bmpface's.
#if defined(__SANITIZE_ADDRESS__)
#define BMPFACE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BMPFACE_ASAN 1
#endif
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
