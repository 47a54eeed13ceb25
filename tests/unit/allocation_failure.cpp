// The whole test process allocates through this operator new; only an armed thread sees a
// failure. Everything else goes on to the operator new that would have served it (the C++
// library's, or a sanitizer's), so every block still meets the operator delete that matches it.
#include "allocation_failure.h"

#include <cstddef>
#include <new>

#include <dlfcn.h>

namespace {

thread_local bool failNext = false;

}  // namespace

void failNextAllocationOnThisThread() { failNext = true; }

void allowAllocationsOnThisThread() { failNext = false; }

void* operator new(std::size_t size) {
    if (failNext) {
        failNext = false;
        throw std::bad_alloc();
    }
    using New = void* (*)(std::size_t);
    static const New next = reinterpret_cast<New>(dlsym(RTLD_NEXT, "_Znwm"));
    return next(size);
}
