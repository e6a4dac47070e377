// Dialogs from the program's own templates, for the Win32 views: one dialog
// procedure that finds its object in the window's user data from
// WM_INITDIALOG on and hands every message to it, and the few verbs the
// views use, addressed by control id. Texts are narrow, in the system's ANSI
// code page, and go through the A functions.
#pragma once

#include "common/Geometry.h"

#include <string>
#include <windows.h>

namespace win32 {

class Dialog {
public:
    Dialog() = default;
    // A dialog still open is destroyed; its object is forgotten first, so
    // that no message of the destruction reaches a half-destroyed object.
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Runs the dialog of the template modally and returns what ended it
    // (endDialog's result), or -1 when it could not be made.
    INT_PTR runModal(int templateId, HWND owner);
    // Makes the dialog of the template modeless; it is shown only when its
    // template says visible. False when it could not be made.
    bool createModeless(int templateId, HWND owner);
    // Ends a modal run with the result.
    void endDialog(INT_PTR result);

    HWND window() const { return window_; }
    HWND item(int id) const;
    std::string itemText(int id) const;
    void setItemText(int id, const std::string& text);
    void enableItem(int id, bool enabled);
    // The application icon as the window's big and small icon.
    void setApplicationIcon();

protected:
    // WM_INITDIALOG: true lets the dialog give the focus to its first
    // control.
    virtual bool onInitDialog() { return true; }
    // WM_COMMAND from a control, a menu or a key (id, notification code).
    virtual void onCommand(int /*id*/, int /*code*/) {}
    // Any other message; true, with its result, when the view has handled
    // it. The result is the message's own (a brush for WM_CTLCOLORSTATIC,
    // TRUE for an erased background), whatever way the system wants a dialog
    // to hand it back.
    virtual bool onMessage(UINT /*message*/, WPARAM /*w*/, LPARAM /*l*/, INT_PTR& /*result*/) {
        return false;
    }

private:
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    INT_PTR dispatch(UINT message, WPARAM w, LPARAM l);

    HWND window_ = nullptr;
    bool modal_ = false;
};

// Whether a dialog procedure hands the message's result back as its return
// value (the WM_CTLCOLOR messages and a few others) rather than through
// DWLP_MSGRESULT.
bool resultIsReturned(UINT message);

// The window's text, read whole.
std::string windowText(HWND window);

// Moves a top-level window so that it is centred on the area (left and top
// each the integer half of the difference); an empty area stands for the
// primary monitor. Its size and place in the stacking order stay.
void centreOn(HWND window, const Rect& area);

// A message box with an OK button above every other window (the page
// browsers' too), owned by `owner` when given; returns when it is answered.
void showMessage(HWND owner, const std::string& caption, const std::string& text);
// A Yes/No question like it, with no owner; true for Yes.
bool askYesNo(const std::string& caption, const std::string& text);

// The program's icon (resource 128) at the size the system uses for big or
// small icons.
HICON applicationIcon(bool small);

} // namespace win32
