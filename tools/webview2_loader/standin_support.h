// What both stand-in DLLs need: the record the tests read and the cues that make the stand-in
// fail or dawdle.
//
// Environment variables (read by the stand-in only; the plugin reads none):
//   CV_WEBVIEW2_RECORD         file the stand-in appends one line per event to
//   CV_WEBVIEW2_CUES           comma-separated: fail-environment, refuse-environment,
//                              no-environment3, fail-controller, refuse-controller, no-view,
//                              fail-snapshot, refuse-snapshot, hold-snapshots,
//                              late-first-snapshot, late-completions, browser-exit@N,
//                              render-exit@N, render-hang@N, gpu-exit@N, stop-answering@N,
//                              fail-bringup=N, slow-bringup=MS, hold-devtools,
//                              dialog-alert@N, dialog-confirm@N, dialog-prompt@N,
//                              dialog-leave@N, new-window@N, permission@N, download@N,
//                              leave-question, slow-navigation=MS,
//                              no-settings3, deny-default-user-data,
//                              refuse-default-user-data, screencast-refused,
//                              screencast-silent, screencast-hidden@N,
//                              screencast-still (docs/windows.md)
//   CV_WEBVIEW2_SNAPSHOT_SIZE  WIDTHxHEIGHT of every snapshot, 768x512 when unset
//   CV_WEBVIEW2_TEXT_FIELD     LEFT,TOP,RIGHT,BOTTOM of the page's text field (standin_page.h)
//   CV_WEBVIEW2_NEW_WINDOW     the address of new-window@N's window
//   CV_WEBVIEW2_PERMISSIONS    the permission kinds permission@N asks for, comma-separated
//   CV_WEBVIEW2_RUNTIME        full path of the stand-in runtime DLL the loader loads;
//                              WebView2StandInRuntime.dll beside the loader when unset
#pragma once

#include <windows.h>

#include <string>

namespace standin {

std::string environmentVariable(const char* name);
void record(const std::string& line);
bool cue(const char* name);
// N of a cue "name@N" or "name=N" (`name` given with its '@' or '='); -1 without the cue.
int cueNumber(const char* name);

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string narrow(const wchar_t* text);

// refuse-default-user-data: true, recorded, when a request names no user-data folder (WebView2's
// default), which the loader function then refuses at once with access denied.
bool refusesDefaultUserData(const wchar_t* userDataFolder);

// Whether the calling thread's COM apartment is "sta", "mta" or "none".
std::string apartment();

// The plugin's hidden host windows on the calling thread (the stand-in's way of telling
// whether the plugin that asked for something is still running), how many, and the first.
int hostWindowsOfThisThread();
HWND firstHostWindowOfThisThread();

}  // namespace standin
