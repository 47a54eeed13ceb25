#pragma once

#include "platform/gl.h"

// For its lifetime, texture uploads read pixels from the plugin's own memory exactly as they
// lie there: no pixel-unpack buffer bound, rows back to back from the first byte (row length
// and skips 0), byte alignment. X-Plane gives callbacks no default GL state, and a plugin that
// uploads through a pixel buffer may leave one bound, which would turn our pointer into an
// offset into its buffer. Afterwards the buffer binding, row length and skips are put back as
// they were found, for whoever draws next; the alignment stays at 1.
//
// Main thread only, with the simulator's GL context current.
class ClientMemoryUnpack {
public:
    ClientMemoryUnpack();
    ~ClientMemoryUnpack();
    ClientMemoryUnpack(const ClientMemoryUnpack&) = delete;
    ClientMemoryUnpack& operator=(const ClientMemoryUnpack&) = delete;

private:
    GLBindBufferFunction bindBuffer_;
    GLint buffer_ = 0;
    GLint rowLength_ = 0;
    GLint skipRows_ = 0;
    GLint skipPixels_ = 0;
};
