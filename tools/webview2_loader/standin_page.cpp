#include "standin_page.h"

#include <cstdio>

#include "standin_support.h"

namespace standin {

namespace {

// The focus script's binding, as the plugin names it.
constexpr char bindingName[] = "cvTextFocus";

// The start of the last UTF-8 character of a non-empty text.
std::size_t lastCharacter(const std::string& text) {
    std::size_t at = text.size() - 1;
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    return at;
}

}  // namespace

StandInPage::StandInPage() {
    const std::string field = environmentVariable("CV_WEBVIEW2_TEXT_FIELD");
    hasField_ = std::sscanf(field.c_str(), "%ld,%ld,%ld,%ld", &left_, &top_, &right_, &bottom_) == 4;
}

void StandInPage::command(const std::string& method, const nlohmann::json& params) {
    if (method == "Runtime.addBinding") {
        if (params.value("name", "") == bindingName) bindingAdded_ = true;
    } else if (method == "Page.addScriptToEvaluateOnNewDocument") {
        scriptAdded_ = true;
    } else if (method == "Input.insertText") {
        if (fieldFocused_) {
            text_ += params.value("text", "");
            record("field text=" + text_);
        }
    } else if (method == "Input.dispatchKeyEvent") {
        key(params);
    }
}

void StandInPage::key(const nlohmann::json& params) {
    const std::string type = params.value("type", "");
    if (!fieldFocused_ || (type != "keyDown" && type != "rawKeyDown")) return;
    const std::string name = params.value("key", "");
    if (name == "Backspace") {
        if (!text_.empty()) text_.erase(lastCharacter(text_));
        record("field text=" + text_);
    } else if (name == "Enter") {
        record("field submitted text=" + text_);
        setFocus(false);
    } else if (name == "Tab") {
        setFocus(false);
    }
}

void StandInPage::navigated() {
    text_.clear();
    fieldFocused_ = false;
    documentReports_ = scriptAdded_;
    // The script reports at once in a new top-level document.
    if (documentReports_ && bindingAdded_) reports_.push_back("0");
}

void StandInPage::leftButtonReleased(long x, long y) {
    setFocus(hasField_ && x >= left_ && x < right_ && y >= top_ && y < bottom_);
}

void StandInPage::setFocus(bool onField) {
    if (onField != fieldFocused_) record(onField ? "field focused" : "field blurred");
    fieldFocused_ = onField;
    if (documentReports_ && bindingAdded_) reports_.push_back(onField ? "1" : "0");
}

std::vector<std::string> StandInPage::takeReports() {
    std::vector<std::string> reports;
    reports.swap(reports_);
    return reports;
}

}  // namespace standin
