// The OpenGL context the host draws with. The context is made current on the main thread
// when created and stays current for the host's life, so a module's GL calls from any main-
// thread callback (XPluginStart included) reach it.
#pragma once

#include <memory>
#include <string>

namespace xpsim {

class GlContext {
public:
    virtual ~GlContext() = default;
    // Address of a GL entry point beyond OpenGL 1.1, null if missing.
    virtual void* procAddress(const char* name) const = 0;
    // One line describing the renderer, for the log.
    virtual std::string description() const = 0;
};

// An offscreen compatibility context whose default framebuffer is width x height pixels.
// Null with a message when none can be made.
std::unique_ptr<GlContext> createGlContext(int width, int height, std::string& error);

}  // namespace xpsim
