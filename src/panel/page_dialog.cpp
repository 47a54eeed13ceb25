#include "panel/page_dialog.h"

#include <exception>
#include <optional>
#include <string>

#include "browser/browser.h"
#include "panel/keyboard_input.h"
#include "pipeline/frame.h"
#include "plugin/log.h"

namespace {

std::optional<PageDialogView> shown;
unsigned revision = 0;

const char* kindName(PageDialogKind kind)
{
    switch (kind) {
    case PageDialogKind::Alert:
        return "an alert";
    case PageDialogKind::Confirm:
        return "a confirm";
    case PageDialogKind::Prompt:
        return "a prompt";
    case PageDialogKind::BeforeUnload:
        return "a leave-page";
    }
    return "a";
}

// Closes the dialog in the panel; the keyboard goes back to the simulator.
void close()
{
    shown.reset();
    ++revision;
    givePanelKeyboardBack();
}

void answer(bool accept)
{
    const std::string text = accept && shown->kind == PageDialogKind::Prompt ? shown->text : std::string();
    close();
    answerBrowserDialog(accept, text);
}

// Drops the last whole UTF-8 character.
void eraseLastCharacter(std::string& text)
{
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.back());
        text.pop_back();
        if ((byte & 0xc0) != 0x80) break;
    }
}

}  // namespace

bool pageDialogShown() { return shown.has_value(); }

const PageDialogView* shownPageDialog() { return shown ? &*shown : nullptr; }

unsigned pageDialogRevision() { return revision; }

void onBrowserDialogOpened(PageDialogKind kind, const std::string& message, const std::string& defaultText)
{
    try {
        shown = PageDialogView{kind, message, kind == PageDialogKind::Prompt ? defaultText : std::string()};
        ++revision;
        // Its kind only: the text may be anything the page put there.
        debugLog("CV: the page opened %s dialog; it waits in the panel for the pilot's answer.\n", kindName(kind));
        takePanelKeyboardForDialog();
    } catch (const std::exception& e) {
        debugLog("CV: could not show the page's dialog: %s\n", e.what());
    }
}

void onBrowserDialogClosed()
{
    if (shown) close();
}

void clickPageDialog(int pageX, int pageY)
{
    if (!shown) return;
    const DialogLayout layout = layoutDialog(*shown, pageWidth.load(), pageHeight.load());
    if (layout.ok.contains(pageX, pageY)) {
        answer(true);
    } else if (layout.cancel.contains(pageX, pageY)) {
        answer(false);
    }
}

void pageDialogTyped(const std::vector<PageKey>& keys, const std::string& text, bool escape)
{
    if (!shown) return;
    if (escape) return answer(false);
    for (const PageKey& key : keys) {
        if (key.phase == PageKey::Phase::Up) continue;
        if (key.name == PageKeyName::Enter) return answer(true);
        if (key.name == PageKeyName::Backspace && shown->kind == PageDialogKind::Prompt) {
            eraseLastCharacter(shown->text);
            ++revision;
        }
    }
    if (!text.empty() && shown->kind == PageDialogKind::Prompt) {
        shown->text += text;
        ++revision;
    }
}
