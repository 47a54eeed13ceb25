#include "panel/page_dialog.h"

#include <memory>
#include <optional>
#include <string>

#include "pipeline/frame.h"
#include "plugin/log.h"
#include "plugin/text_encoding.h"

namespace {

std::optional<PageDialogView> shown;
unsigned revision = 0;

// The last layout made, and what it was made for.
struct MadeLayout {
    unsigned revision = 0;
    int width = 0, height = 0;
    std::shared_ptr<const DialogLayout> layout;
};
MadeLayout made;

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

std::shared_ptr<const DialogLayout> shownPageDialogLayout(int width, int height) {
    if (!shown) return nullptr;
    if (!made.layout || made.revision != revision || made.width != width || made.height != height)
        made = {revision, width, height, std::make_shared<DialogLayout>(layoutDialog(*shown, width, height))};
    return made.layout;
}

void openPageDialog(PageDialogKind kind, const std::string& message, const std::string& defaultText) {
    shown = PageDialogView{kind, message, kind == PageDialogKind::Prompt ? defaultText : std::string()};
    ++revision;
    // Its kind only: the text may be anything the page put there.
    debugLog("CV: the page opened %s dialog; it waits in the panel for the pilot's answer.\n", kindName(kind));
}

bool closePageDialog() {
    if (!shown) return false;
    shown.reset();
    made.layout.reset();
    ++revision;
    return true;
}

std::optional<PageDialogAnswer> clickPageDialog(int pageX, int pageY) {
    const auto layout = shownPageDialogLayout(pageWidth.load(), pageHeight.load());
    if (!layout) return std::nullopt;
    if (layout->ok.contains(pageX, pageY)) return answer(true);
    if (layout->cancel.contains(pageX, pageY)) return answer(false);
    return std::nullopt;
}

bool onPageDialog(int pageX, int pageY) {
    const auto layout = shownPageDialogLayout(pageWidth.load(), pageHeight.load());
    return layout && layout->box.contains(pageX, pageY);
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
