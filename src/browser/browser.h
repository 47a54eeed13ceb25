// What the rest of the plugin asks of the off-screen browser. One backend directory is
// compiled into each module (webview2/ on Windows, chromium/ on Linux); this header is the
// whole seam. Everything here is called on the simulator's main thread only.
//
// Bring-up is asynchronous: until the view exists browserViewReady() is false, and callers
// skip reloads and log that they cannot find the view. Every completion the
// backend delivers (bring-up steps, snapshots) runs on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "browser/page_input.h"
#include "browser/png_buffer.h"

// Names one snapshot request, so that an answer arriving after its request timed out can be
// told from the answer to the request in flight.
using CaptureTicket = std::uint64_t;

// The page's size in pixels: the size of the pictures it is laid out and shown at. The decode
// worker stores each picture's size; main-thread code loads them without a lock.
extern std::atomic<int> pageWidth;
extern std::atomic<int> pageHeight;

// Puts the main thread into the browser's threading model (a COM single-threaded apartment
// on Windows). On false the backend has logged the failure and start-up must stop at once.
bool initBrowserThread();

// Creates whatever host window the backend needs (the hidden Win32 parent on Windows).
void createBrowserHostWindow();

// Asks for the browser; the rest of the bring-up completes later on the main thread.
void startBrowser();

// Tears the browser down and balances initBrowserThread(). Leaves no browser process or
// backend thread behind.
void stopBrowser();

// True once the page view exists (the browser can navigate, snapshot and take clicks).
bool browserViewReady();

// True once the controller that takes the zoom factor exists.
bool browserControllerReady();

// Starts a fresh navigation to the address. Ignored when the view is not ready.
void navigateBrowser(const std::wstring& url);

// Goes back to the page before in the page's history; nothing when it has none. Ignored when
// the view is not ready.
void goBrowserBack();

// Tells the page which colour scheme the pilot prefers (its prefers-color-scheme). A backend
// whose view is not ready keeps it for the bring-up; a browser started again gets the latest.
void setBrowserColorScheme(bool dark);

// Applies a zoom factor (1.0 = 100 %). A factor the browser refuses changes nothing there.
void setBrowserZoom(double factor);

// Sends a left press and release at a page pixel (top-left origin, y down). Ignored while no
// page has been shown yet; a backend that brings its browser back after a failure may keep a
// click taken meanwhile (on the last picture) and pass it on once the page is back.
void sendBrowserClick(int pageX, int pageY);

// Pointer input beyond the plain click, at a page pixel: moves, a drag's press, moves and
// release, and the pointer leaving the page (its position is not used). Ignored when the view
// is not ready.
void sendBrowserPointer(PagePointer what, int pageX, int pageY);

// A wheel turned `clicks` notches over a page pixel, as the simulator counts them: the
// vertical wheel's positive clicks away from the pilot (the page scrolls up), the horizontal
// one's to the right. The page scrolls as it would under a desktop mouse. Ignored when the
// view is not ready.
void sendBrowserWheel(int pageX, int pageY, int clicks, bool horizontal);

// A key press, repeat or release, and typed text (UTF-8, whole characters), for the page's
// focused element. The panel sends them only while it holds the simulator's keyboard.
void sendBrowserKey(const PageKey& key);
void sendBrowserText(const std::string& utf8);

// Defined by the panel, called by the backend on the main thread: whether the page's focused
// element takes text. The page tells at each focus change and after each pointer release; the
// backend says false when the page is gone with a lost or replaced browser. A backend that
// cannot learn the page's focus never calls it, and the panel then never takes the keyboard.
void onBrowserTextFocus(bool takesText);

// Defined by the panel, called by the backend on the main thread: the page opened a dialog
// (for a prompt, `defaultText` is the text its field starts with) and is blocked until
// answerBrowserDialog(). Closed means the dialog went without an answer from us: the page
// closed it itself, or the page went with a lost or replaced browser. A backend that answers
// a dialog itself (the leave-page question of its own reload, a flood of dialogs) tells the
// panel nothing; the others reach it through askPilot (browser_policy.h), their texts bounded.
void onBrowserDialogOpened(PageDialogKind kind, const std::string& message, const std::string& defaultText);
void onBrowserDialogClosed();

// The pilot's answer to the dialog the page opened: OK (`accept`, with a prompt's text) or
// Cancel. Ignored when the page has no dialog open.
void answerBrowserDialog(bool accept, const std::string& text);

// ---- Live frames ----
// While the panel is shown the page's own repaints are its pictures: the backend runs a
// screencast and hands each frame it receives to onBrowserFrame() (a JPEG or PNG, at the page
// scale's size), acknowledging it to the browser once handed over. A page that does not paint
// sends nothing. The 2 Hz snapshots below remain for when a screencast is unavailable.

// Starts the screencast. False when it could not be started (logged by the backend). A refusal
// that comes later, or the browser saying the page is not visible to it, is told through
// onBrowserScreencastEnded(); the screencast then counts as stopped.
bool startBrowserScreencast();
// Stops it; frames still on their way are dropped. Does nothing when none runs.
void stopBrowserScreencast();

// Renders the page `scale` device pixels per page pixel (1 to 3): its layout stays, its
// pictures (snapshots and frames) grow `scale` times each way. A backend whose view is not
// ready yet keeps it for the bring-up, and a browser started again gets the latest one.
void setBrowserPageScale(double scale);

// A page that paints at every frame (an animation, a moving map) is cheaper to show by asking
// for its picture at the simulator's pace than by a screencast, for which Chromium copies every
// frame it draws. Starts one such picture (a JPEG at the page scale's size) and returns true;
// onBrowserShot() then runs once on the main thread with `ticket`, unless the browser is lost
// first. False when it could not be started, or the backend takes none (WebView2's: its
// screencast's cost is not known to be the same); the screencast then goes on for this browser.
bool startBrowserShot(CaptureTicket ticket);

// Defined by the frame pipeline, called by the backend on the main thread:
// the answer to startBrowserShot(), `shot` empty when takeBrowserShotNow() took it (`why` tells
// a failure);
void onBrowserShot(CaptureTicket ticket, bool succeeded, PngBuffer shot, const char* why);
// Callable on any thread and never throwing: a shot handed straight to the decoder, or dropped
// as the same picture as the shot before it. True when taken (`shot` is then empty).
bool takeBrowserShotNow(PngBuffer& shot) noexcept;
// a frame of the running screencast;
void onBrowserFrame(PngBuffer frame);
// Callable on any thread and never throwing: a frame handed straight to the decoder, without
// waiting for the main thread's next frame. True when taken (`frame` is then empty); false leaves
// it to onBrowserFrame(). Either way the main thread acknowledges it.
bool takeBrowserFrameNow(PngBuffer& frame) noexcept;
// the screencast was refused or stopped by the browser (`why` ends the one log line);
void onBrowserScreencastEnded(const char* why);
// a new browser's view is ready (at bring-up and after each restart): it runs no screencast;
void onBrowserStarted();
// the page finished loading a navigation (ours or the page's own): worth one picture at once,
// as it may not paint again.
void onBrowserPageLoaded();

// Starts one PNG snapshot of the page. False when it could not be started (the backend has
// logged what it reports); an exception also means it was not started, and the caller
// reports it. On true, onBrowserSnapshot() runs at most once later, on the main
// thread, with this ticket and the snapshot's bytes or a failure; a backend whose browser is
// gone answers every snapshot it still owes as failed.
bool startBrowserSnapshot(CaptureTicket ticket);

// Asks the page for a sign of life that costs the browser no picture (a still page's
// screencast sends nothing, and neither would a hung browser): the page's main thread answers
// it, as it does a snapshot. It is owed, answered (onBrowserSnapshot() without bytes) and given
// up on exactly as a snapshot, so the hang rule counts it as one.
bool startBrowserCheck(CaptureTicket ticket);

// The capture schedule gave up waiting for the snapshot started with `ticket`; the backend
// owes it nothing more, and an answer that still comes is dropped. Several in a row tell a
// backend that can restart its browser that the browser hangs.
void browserSnapshotTimedOut(CaptureTicket ticket);

// Defined by the capture schedule, called by the backend on the main thread: the answer to the
// snapshot started with `ticket`. The answer to the snapshot in flight goes on to be decoded; a
// late answer to one that timed out is dropped: never queued, never decoded.
void onBrowserSnapshot(CaptureTicket ticket, bool succeeded, PngBuffer snapshot);
