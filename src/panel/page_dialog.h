// A dialog the page's script opened (alert, confirm, prompt, or the question before leaving a
// page), shown by the panel over the page's last picture and answered by the pilot with a
// click on its buttons or, while the panel holds the keyboard, with Enter or Escape. The page
// is blocked meanwhile: the capture schedule asks for no snapshot and the periodic reload
// waits. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "browser/page_input.h"
#include "panel/dialog_picture.h"

// True while a page dialog waits for the pilot's answer.
bool pageDialogShown();

// A click's page point while a dialog is shown: OK or Cancel answers it; anywhere else does
// nothing. The page gets no click while its dialog is open.
void clickPageDialog(int pageX, int pageY);

// Keys and typed text while a dialog is shown and the panel holds the keyboard: Enter answers
// OK (with a prompt's text), Escape Cancel, Backspace takes a prompt's last character back,
// typed characters go into a prompt's text.
void pageDialogTyped(const std::vector<PageKey>& keys, const std::string& text, bool escape);

// The dialog shown, or null.
const PageDialogView* shownPageDialog();
// Counts every change of what the dialog looks like (opened, typed into, closed), so the draw
// callback knows when to draw it again.
unsigned pageDialogRevision();
