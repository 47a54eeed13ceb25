#include "browser/devtools/focus_channel.h"

namespace devtools {

namespace {

constexpr char bindingName[] = "cvTextFocus";
constexpr char worldName[] = "corvane-panel-input";

// Reports after the event has run its course (setTimeout), so the focus it reads is the one
// the page settled on. A frame whose focus sits in a child frame leaves the report to that
// frame's own copy of the script. A new top-level document reports at once: nothing of it can
// have the focus yet, and the text element of the page before is gone.
constexpr char focusScript[] = R"js((() => {
  const notText = new Set(['button', 'checkbox', 'color', 'file', 'hidden', 'image', 'radio', 'range', 'reset',
                           'submit']);
  const focused = () => {
    let e = document.activeElement;
    while (e && e.shadowRoot && e.shadowRoot.activeElement) e = e.shadowRoot.activeElement;
    return e;
  };
  const takesText = (e) => {
    if (!e) return false;
    if (e.isContentEditable) return true;
    if (e.tagName === 'TEXTAREA') return !e.readOnly && !e.disabled;
    if (e.tagName !== 'INPUT') return false;
    return !notText.has((e.type || 'text').toLowerCase()) && !e.readOnly && !e.disabled;
  };
  const tell = () => setTimeout(() => {
    const e = focused();
    if (e && (e.tagName === 'IFRAME' || e.tagName === 'FRAME')) return;
    globalThis.cvTextFocus(takesText(e) ? '1' : '0');
  }, 0);
  for (const type of ['focusin', 'focusout', 'pointerup']) addEventListener(type, tell, true);
  if (window === window.top) tell();
})();)js";

}  // namespace

std::vector<Command> textFocusChannel() {
    return {{"Runtime.enable", nlohmann::json::object()},
            {"Page.enable", nlohmann::json::object()},
            {"Runtime.addBinding", {{"name", bindingName}, {"executionContextName", worldName}}},
            {"Page.addScriptToEvaluateOnNewDocument", {{"source", focusScript}, {"worldName", worldName}}}};
}

std::optional<bool> textFocusReport(const nlohmann::json& params) {
    if (!params.is_object()) return std::nullopt;
    const auto name = params.find("name");
    const auto payload = params.find("payload");
    if (name == params.end() || payload == params.end() || !name->is_string() || !payload->is_string() ||
        name->get_ref<const std::string&>() != bindingName)
        return std::nullopt;
    const auto& text = payload->get_ref<const std::string&>();
    if (text == "1") return true;
    if (text == "0") return false;
    return std::nullopt;
}

}  // namespace devtools
