// What the stand-in browser needs around its objects: the record the tests read, the cues
// that make it fail, delivery of completions through the main thread's message queue, and
// the snapshot encoder.
//
// Environment variables (read by the stand-in only; the plugin reads none):
//   CV_WEBVIEW2_RECORD         file the stand-in appends one line per event to
//   CV_WEBVIEW2_CUES           comma-separated: fail-environment, refuse-environment,
//                              no-environment3, fail-controller, refuse-controller, no-view,
//                              fail-snapshot, refuse-snapshot
//   CV_WEBVIEW2_SNAPSHOT_SIZE  WIDTHxHEIGHT of every snapshot, 768x512 when unset
#pragma once

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <functional>
#include <string>

namespace standin {

void record(const std::string& line);
bool cue(const char* name);
void snapshotSize(int& width, int& height);

// Runs `task` later on this thread, from its message loop, as the browser delivers its
// completions. Tasks still waiting when the loader is unloaded are dropped (and whatever they
// hold released) without running.
void post(std::function<void()> task);
void dropPendingTasks();

// Objects alive right now; a clean shutdown brings this to 0 before the loader is unloaded.
extern std::atomic<int> liveObjects;

// Whether the calling thread's COM apartment is "sta", "mta" or "none".
std::string apartment();

// Encodes the corner-mark picture as a PNG into the stream. An HRESULT failure otherwise.
HRESULT writeSnapshotPng(IStream* stream, int width, int height);

std::string narrow(const wchar_t* text);

}  // namespace standin
