#include "browser/devtools/input.h"

#include <cctype>

namespace devtools {

namespace {

struct KeyIdentity {
    std::string key;   // KeyboardEvent.key
    std::string code;  // KeyboardEvent.code
    int virtualKey;    // the Windows virtual-key code pages read as keyCode
};

KeyIdentity identify(const PageKey& k) {
    switch (k.name) {
    case PageKeyName::Backspace: return {"Backspace", "Backspace", 8};
    case PageKeyName::Delete: return {"Delete", "Delete", 46};
    case PageKeyName::Enter: return {"Enter", "Enter", 13};
    case PageKeyName::Tab: return {"Tab", "Tab", 9};
    case PageKeyName::ArrowLeft: return {"ArrowLeft", "ArrowLeft", 37};
    case PageKeyName::ArrowRight: return {"ArrowRight", "ArrowRight", 39};
    case PageKeyName::ArrowUp: return {"ArrowUp", "ArrowUp", 38};
    case PageKeyName::ArrowDown: return {"ArrowDown", "ArrowDown", 40};
    case PageKeyName::Home: return {"Home", "Home", 36};
    case PageKeyName::End: return {"End", "End", 35};
    case PageKeyName::PageUp: return {"PageUp", "PageUp", 33};
    case PageKeyName::PageDown: return {"PageDown", "PageDown", 34};
    case PageKeyName::Shift: return {"Shift", "ShiftLeft", 16};
    case PageKeyName::Control: return {"Control", "ControlLeft", 17};
    case PageKeyName::Alt: return {"Alt", "AltLeft", 18};
    case PageKeyName::Character: break;
    }
    const auto c = static_cast<unsigned char>(k.character);
    const char upper = static_cast<char>(std::toupper(c));
    const std::string code = std::isdigit(c) != 0 ? std::string("Digit") + k.character : std::string("Key") + upper;
    return {std::string(1, k.character), code, static_cast<unsigned char>(upper)};
}

}  // namespace

Command mouseEvent(PagePointer what, double cssX, double cssY) {
    nlohmann::json params = {{"x", cssX}, {"y", cssY}, {"modifiers", 0}};
    switch (what) {
    case PagePointer::Press:
        params.update({{"type", "mousePressed"}, {"button", "left"}, {"buttons", 1}, {"clickCount", 1}});
        break;
    case PagePointer::Release:
        params.update({{"type", "mouseReleased"}, {"button", "left"}, {"buttons", 0}, {"clickCount", 1}});
        break;
    case PagePointer::Drag: params.update({{"type", "mouseMoved"}, {"button", "left"}, {"buttons", 1}}); break;
    case PagePointer::Move: params.update({{"type", "mouseMoved"}, {"button", "none"}, {"buttons", 0}}); break;
    case PagePointer::Leave:
        // The protocol has no leave event; a move just off the page's top-left corner is one.
        params.update({{"type", "mouseMoved"}, {"button", "none"}, {"buttons", 0}, {"x", -1}, {"y", -1}});
        break;
    }
    return {"Input.dispatchMouseEvent", std::move(params)};
}

Command mouseWheel(double cssX, double cssY, double deltaX, double deltaY) {
    return {
        "Input.dispatchMouseEvent",
        {{"type", "mouseWheel"}, {"x", cssX}, {"y", cssY}, {"deltaX", deltaX}, {"deltaY", deltaY}, {"modifiers", 0}}};
}

Command keyEvent(const PageKey& key) {
    const KeyIdentity id = identify(key);
    nlohmann::json params = {{"key", id.key},
                             {"code", id.code},
                             {"windowsVirtualKeyCode", id.virtualKey},
                             {"nativeVirtualKeyCode", id.virtualKey},
                             {"modifiers", key.modifiers}};
    if (key.phase == PageKey::Phase::Up) {
        params["type"] = "keyUp";
    } else if (key.name == PageKeyName::Enter) {
        // Enter's carriage return is what submits a form; the other keys type nothing.
        params.update({{"type", "keyDown"}, {"text", "\r"}, {"unmodifiedText", "\r"}});
    } else {
        params["type"] = "rawKeyDown";
    }
    if (key.phase == PageKey::Phase::Repeat) params["autoRepeat"] = true;
    return {"Input.dispatchKeyEvent", std::move(params)};
}

Command insertText(const std::string& utf8) { return {"Input.insertText", {{"text", utf8}}}; }

}  // namespace devtools
