#pragma once

#include "browser/png_buffer.h"

// The browser backend's snapshot completion, on the main thread: a successful snapshot's
// bytes go to the decode queue (a failed or empty one is dropped), and snapshot requests
// are enabled again in every case.
void OnCaptureCompleted(bool succeeded, PngBuffer snapshot);

// True while a snapshot waits in the decode queue: the decode thread has not caught up yet.
bool decodeBacklog();
