// The sanitizers' settings for every Linux program that hosts modules (xpsim, the soaks, the
// unit tests' host). The sanitizer runtime looks these hooks up in the program before its own
// library, so they are compiled into each program: in libxpsim_host they would never be seen.

// Mesa's software rasteriser keeps a few allocations (LLVM and driver state) for the life of
// the process. LeakSanitizer would report them in every test that starts a host, hiding real
// leaks; they are the driver's, never ours or a plugin's.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:swrast_dri.so\n"
           "leak:libgallium\n"
           "leak:libLLVM\n"
           "leak:libglapi.so\n"
           "leak:libEGL_mesa.so\n";
}

// GCC 12's AddressSanitizer guesses the bounds of each dynamic TLS block from the bytes before
// it when the block starts 16 bytes into a page, a layout of glibc 2.19. Under Debian 12's glibc
// those bytes are heap, so a module loaded by the host (the plugin's libjpeg-turbo has TLS)
// can leave a block of nonsense bounds, and LeakSanitizer's tracer crashes on it at exit
// ("Tracer caught signal 11"). Untracked, those blocks are no longer roots of the leak check:
// that can only report more, never hide a leak, and a loaded module's TLS holds none of ours.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "intercept_tls_get_addr=0";
}
