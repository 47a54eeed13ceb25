#include "panel/page_dialog.h"

#include <optional>
#include <string>

#include "pipeline/frame.h"
#include "plugin/log.h"
#include "plugin/text_encoding.h"

namespace {

std::optional<PageDialogView> shown;
unsigned revision = 0;

const char* kindName(PageDialogKind kind) {
    switch (kind) {
    case PageDialogKind::Alert: return "an alert";
    case PageDialogKind::Confirm: return "a confirm";
    case PageDialogKind::Prompt: return "a prompt";
    case PageDialogKind::BeforeUnload: return "a leave-page";
    }
    return "a";
}

std::optional<PageDialogAnswer> answer(bool accept) {
    const std::string text = accept && shown->kind == PageDialogKind::Prompt ? shown->text : std::string();
    closePageDialog();
    return PageDialogAnswer{accept, text};
}

}  // namespace

bool pageDialogShown() { return shown.has_value(); }

const PageDialogView* shownPageDialog() { return shown ? &*shown : nullptr; }

unsigned pageDialogRevision() { return revision; }

void openPageDialog(PageDialogKind kind, const std::string& message, const std::string& defaultText) {
    shown = PageDialogView{kind, message, kind == PageDialogKind::Prompt ? defaultText : std::string()};
    ++revision;
    // Its kind only: the text may be anything the page put there.
    debugLog("CV: the page opened %s dialog; it waits in the panel for the pilot's answer.\n", kindName(kind));
}

bool closePageDialog() {
    if (!shown) return false;
    shown.reset();
    ++revision;
    return true;
}

std::optional<PageDialogAnswer> clickPageDialog(int pageX, int pageY) {
    if (!shown) return std::nullopt;
    const DialogLayout layout = layoutDialog(*shown, pageWidth.load(), pageHeight.load());
    if (layout.ok.contains(pageX, pageY)) return answer(true);
    if (layout.cancel.contains(pageX, pageY)) return answer(false);
    return std::nullopt;
}

std::optional<PageDialogAnswer> pageDialogTyped(const std::vector<PageKey>& keys, const std::string& text,
                                                bool escape) {
    if (!shown) return std::nullopt;
    if (escape) return answer(false);
    for (const PageKey& key : keys) {
        if (key.phase == PageKey::Phase::Up) continue;
        if (key.name == PageKeyName::Enter) return answer(true);
        if (key.name == PageKeyName::Backspace && shown->kind == PageDialogKind::Prompt) {
            // The last whole character goes.
            if (!shown->text.empty()) shown->text.resize(wholeCharactersWithin(shown->text, shown->text.size() - 1));
            ++revision;
        }
    }
    if (!text.empty() && shown->kind == PageDialogKind::Prompt) {
        shown->text += text;
        ++revision;
    }
    return std::nullopt;
}
