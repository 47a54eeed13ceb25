// The stand-in browser's objects: an environment that makes composition controllers, a
// controller (both controller interfaces on one object, as in the real browser) and its
// view. Every call the plugin makes is recorded; unused methods answer E_NOTIMPL.
#pragma once

#include "platform/webview2.h"

namespace standin {

// A new environment with one reference, owned by the caller.
ICoreWebView2Environment3* newEnvironment();

}  // namespace standin
