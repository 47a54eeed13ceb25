// The few OpenGL calls and constants the panel uses, declared here so the plugin needs no GL
// headers (Windows' gl.h stops at 1.1 and lacks GL_BGRA). The simulator's context is current
// whenever we call them. The calls are OpenGL 1.1, which every platform's GL library exports,
// except glBindBuffer below.
#pragma once

#if defined(_WIN32)
#    define CV_GLAPI extern "C" __declspec(dllimport)
#    define CV_GLCALL __stdcall
#else
#    define CV_GLAPI extern "C"
#    define CV_GLCALL
#endif

using GLenum = unsigned int;
using GLint = int;
using GLsizei = int;
using GLuint = unsigned int;
using GLfloat = float;
using GLboolean = unsigned char;

constexpr GLenum GL_TEXTURE_2D = 0x0DE1;
constexpr GLenum GL_TEXTURE_MAG_FILTER = 0x2800;
constexpr GLenum GL_TEXTURE_MIN_FILTER = 0x2801;
constexpr GLint GL_LINEAR = 0x2601;
constexpr GLenum GL_RGBA = 0x1908;
constexpr GLint GL_RGBA8 = 0x8058;
constexpr GLenum GL_BGRA = 0x80E1;
constexpr GLenum GL_UNSIGNED_BYTE = 0x1401;
constexpr GLenum GL_UNPACK_ROW_LENGTH = 0x0CF2;
constexpr GLenum GL_UNPACK_SKIP_ROWS = 0x0CF3;
constexpr GLenum GL_UNPACK_SKIP_PIXELS = 0x0CF4;
constexpr GLenum GL_UNPACK_ALIGNMENT = 0x0CF5;
constexpr GLenum GL_PIXEL_UNPACK_BUFFER = 0x88EC;
constexpr GLenum GL_PIXEL_UNPACK_BUFFER_BINDING = 0x88EF;
constexpr GLenum GL_QUADS = 0x0007;
constexpr GLenum GL_CULL_FACE = 0x0B44;
constexpr GLenum GL_POLYGON_MODE = 0x0B40;
constexpr GLenum GL_FRONT = 0x0404;
constexpr GLenum GL_BACK = 0x0405;
constexpr GLint GL_FILL = 0x1B02;
constexpr GLenum GL_TEXTURE_ENV = 0x2300;
constexpr GLenum GL_TEXTURE_ENV_MODE = 0x2200;
constexpr GLint GL_MODULATE = 0x2100;
constexpr GLenum GL_TEXTURE_GEN_S = 0x0C60;
constexpr GLenum GL_TEXTURE_GEN_T = 0x0C61;
constexpr GLenum GL_TEXTURE_GEN_R = 0x0C62;
constexpr GLenum GL_TEXTURE_GEN_Q = 0x0C63;
constexpr GLenum GL_TEXTURE_3D = 0x806F;
constexpr GLenum GL_TEXTURE_CUBE_MAP = 0x8513;
constexpr GLenum GL_MATRIX_MODE = 0x0BA0;
constexpr GLenum GL_TEXTURE = 0x1702;
constexpr GLenum GL_TEXTURE_MATRIX = 0x0BA8;

CV_GLAPI void CV_GLCALL glTexParameteri(GLenum target, GLenum pname, GLint param);
CV_GLAPI void CV_GLCALL glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height,
                                     GLint border, GLenum format, GLenum type, const void* pixels);
CV_GLAPI void CV_GLCALL glTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width,
                                        GLsizei height, GLenum format, GLenum type, const void* pixels);
CV_GLAPI void CV_GLCALL glPixelStorei(GLenum pname, GLint param);
CV_GLAPI void CV_GLCALL glGetIntegerv(GLenum pname, GLint* data);
CV_GLAPI void CV_GLCALL glColor3f(GLfloat red, GLfloat green, GLfloat blue);
CV_GLAPI void CV_GLCALL glBegin(GLenum mode);
CV_GLAPI void CV_GLCALL glEnd(void);
CV_GLAPI void CV_GLCALL glTexCoord2i(GLint s, GLint t);
CV_GLAPI void CV_GLCALL glVertex2i(GLint x, GLint y);
CV_GLAPI void CV_GLCALL glDeleteTextures(GLsizei n, const GLuint* textures);
CV_GLAPI GLboolean CV_GLCALL glIsEnabled(GLenum cap);
CV_GLAPI void CV_GLCALL glEnable(GLenum cap);
CV_GLAPI void CV_GLCALL glDisable(GLenum cap);
CV_GLAPI void CV_GLCALL glPolygonMode(GLenum face, GLenum mode);
CV_GLAPI void CV_GLCALL glGetTexEnviv(GLenum target, GLenum pname, GLint* params);
CV_GLAPI void CV_GLCALL glTexEnvi(GLenum target, GLenum pname, GLint param);
CV_GLAPI void CV_GLCALL glGetFloatv(GLenum pname, GLfloat* data);
CV_GLAPI void CV_GLCALL glMatrixMode(GLenum mode);
CV_GLAPI void CV_GLCALL glLoadIdentity(void);
CV_GLAPI void CV_GLCALL glLoadMatrixf(const GLfloat* m);

// OpenGL 1.5. Linux's GL library (GLVND's libOpenGL) exports it like the 1.1 calls, and
// dispatches to whichever context is current; Windows' opengl32.dll stops at 1.1, so there it
// is asked of the context with wglGetProcAddress.
using GLBindBufferFunction = void(CV_GLCALL*)(GLenum target, GLuint buffer);
#if !defined(_WIN32)
CV_GLAPI void CV_GLCALL glBindBuffer(GLenum target, GLuint buffer);
#endif
