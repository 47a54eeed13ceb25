// What one message from the browser means: a reply to a command we are waiting for, an event
// we act on (one that ends the page, a commit, a finished load, the page's report of its text
// focus, its dialogs, new windows and downloads, a screencast's frames), or something we ignore. The I/O thread of
// cdp::Connection calls this for every message it reads from the pipe; it touches nothing but
// its arguments.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "browser/png_buffer.h"

namespace cdp {

// What a command was sent for; decides what is extracted from its reply.
enum class Request {
    ListTargets,
    CreateTarget,
    Attach,
    SetViewport,
    VisibleSize,
    EnablePage,
    Navigate,
    Snapshot,
    Shot,   // a picture of a busy page, answered like a snapshot
    Check,  // a sign of life from the page, answered like a snapshot without a picture
    Input,
    FocusChannel,
    Close,
    AnswerDialog,
    DiscoverTargets,
    CloseTarget,
    DenyDownloads,
    DenyPermissions,
    Screencast,      // its start; its refusal comes as this reply
    StopScreencast,  // no reply is reported, nor for FrameAck
    FrameAck,
    ColorScheme,  // the page told the pilot's colour scheme; a refusal is told
    GoBack,       // the page's history.back(); its reply is not reported
};

struct Completion {
    enum class Type {
        Reply,         // the reply to one command
        Committed,     // the page's main frame committed a navigation, ours or one the page began
        Lost,          // the pipe broke or the peer stopped speaking the protocol; nothing follows
        TextFocus,     // the page reports its focus: ok is true when the focused element takes text
        DialogOpened,  // the page opened a dialog: value its type ("alert", "confirm", "prompt",
                       // "beforeunload"), text its message, detail a prompt's default text
        DialogClosed,  // the page's dialog went, answered or not
        NewPage,       // a page target was created or changed: value its targetId, text its address,
                       // detail the targetId of the page that opened it ("" when none did)
        Download,      // the page started a download (refused)
        Loaded,        // the page's main frame finished loading (its load event)
        Frame,         // a screencast frame: tag the number it is acknowledged with, snapshot its
                       // decoded bytes; ok is false when it held no image
        Hidden,        // the browser reports the page not visible to the screencast
    };
    Type type = Type::Reply;
    Request request = Request::Input;
    std::uint64_t tag = 0;  // what the caller passed with the command
    bool ok = false;
    std::string text{};    // the error message; for Lost the reason; for Navigate the page's load error
    std::string value{};   // ListTargets: a page's targetId ("" when there is none);
                           // CreateTarget: the targetId; Attach: the sessionId;
                           // Navigate and Committed: the navigation's loaderId
    std::string detail{};  // DialogOpened: a prompt's default text; NewPage: its opener's targetId
    PngBuffer snapshot{};  // Snapshot: the decoded PNG bytes; Frame: the frame's JPEG or PNG bytes
};

// A command written to the browser whose reply is still owed, by command id.
struct PendingRequest {
    Request request;
    std::uint64_t tag;
};
using PendingRequests = std::map<int, PendingRequest>;

// Handles one message (the JSON text between two NULs). A reply to a pending command is
// taken out of `pending` and turned into `reply`; so is an event we act on, known by its
// method name (the main frame's commit of a navigation, say, as a Committed event, which takes
// no pending command); other events and replies nobody waits for leave `reply` empty. An event
// we do not act on is known by its method before the message is parsed, and dropped unparsed
// (whether or not the rest of it is well-formed). False, with `lostReason`, when the message
// ends the connection: it is not a JSON object, or the page has crashed or been detached.
bool handleMessage(const std::string& message, PendingRequests& pending, std::optional<Completion>& reply,
                   std::string& lostReason);

}  // namespace cdp
