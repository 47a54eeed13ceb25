// The page the stand-in browser shows, as far as the plugin's page input reaches it. With
// CV_WEBVIEW2_TEXT_FIELD=LEFT,TOP,RIGHT,BOTTOM (page pixels, right and bottom excluded) it
// has a text field there, in a form: a left-button release inside focuses the field, one
// outside takes the focus off it; while it has the focus, Input.insertText types into it,
// Backspace takes its last character, Enter submits the form and lets go of the field (as a
// search box does), and Tab moves the focus on to a button. A new document has no focus.
//
// The plugin learns the page's focus from its focus script, which reports through a binding
// after each release and focus change. The stand-in reports the same way, but only as the
// real browser would: once the binding is registered (Runtime.addBinding with the script's
// binding name) and for a document loaded after the script was registered
// (Page.addScriptToEvaluateOnNewDocument).
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace standin {

class StandInPage {
public:
    StandInPage();

    void command(const std::string& method, const nlohmann::json& params);
    void navigated();
    void leftButtonReleased(long x, long y);

    // The focus reports (the binding's payloads, "1" or "0") made since the last call.
    std::vector<std::string> takeReports();

private:
    void setFocus(bool onField);
    void key(const nlohmann::json& params);

    bool hasField_ = false;
    long left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    bool bindingAdded_ = false;
    bool scriptAdded_ = false;
    bool documentReports_ = false;
    bool fieldFocused_ = false;
    std::string text_;
    std::vector<std::string> reports_;
};

}  // namespace standin
