// A dialog the page's script opened (alert, confirm, prompt, or the question before leaving a
// page), shown by the panel over the page's last picture and answered by the pilot with a
// click on its buttons or, while the panel holds the keyboard, with Enter or Escape. The page
// is blocked meanwhile: the capture schedule asks for no snapshot and the periodic reload
// waits. The panel's input hands it the clicks and keys, and sends the answer on. Main thread
// only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/page_input.h"
#include "panel/dialog_picture.h"

// The pilot's answer: OK (`accept`, with a prompt's text) or Cancel. The dialog is closed
// when it is given.
struct PageDialogAnswer {
    bool accept = false;
    std::string text;
};

// True while a page dialog waits for the pilot's answer.
bool pageDialogShown();

// The page opened a dialog (a prompt's field starts with `defaultText`); it is shown from now.
void openPageDialog(PageDialogKind kind, const std::string& message, const std::string& defaultText);
// The dialog went without the pilot's answer. True when one was shown.
bool closePageDialog();

// A click's page point while a dialog is shown: OK or Cancel answers it; anywhere else does
// nothing. The page gets no click while its dialog is open.
std::optional<PageDialogAnswer> clickPageDialog(int pageX, int pageY);
// Whether a page point lies on the shown dialog's box.
bool onPageDialog(int pageX, int pageY);

// Keys and typed text while a dialog is shown and the panel holds the keyboard: Enter answers
// OK (with a prompt's text), Escape Cancel, Backspace takes a prompt's last character back,
// typed characters go into a prompt's text.
std::optional<PageDialogAnswer> pageDialogTyped(const std::vector<PageKey>& keys, const std::string& text, bool escape);

// The dialog shown, or null.
const PageDialogView* shownPageDialog();
// Where the shown dialog goes on a page of width x height pixels: laid out once per change of
// the dialog or of the page's size, for clicks and drawing alike. Null while none is shown.
std::shared_ptr<const DialogLayout> shownPageDialogLayout(int width, int height);
// Counts every change of what the dialog looks like (opened, typed into, closed), so the draw
// callback knows when to draw it again.
unsigned pageDialogRevision();
