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
