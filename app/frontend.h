#pragma once
// The one interface through which the toolkit-free core talks to its front end (the windows,
// the command line or a test). Every text crossing it is UTF-8.

#include <string>

namespace fennic {

// Dialog results, with the values the windows use.
enum DialogResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Message box styles; combine one button set with at most one icon.
enum MessageStyle : unsigned {
    MB_OK = 0x0,
    MB_YESNO = 0x4,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
};

class IFrontEnd {
public:
    virtual ~IFrontEnd() = default;

    // Shows a message box and returns the button pressed (IDOK, IDYES or IDNO).
    // An empty caption is the application's display name, which is itself empty.
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned style) = 0;

    // A question the core asks by kind, so that a front end can answer it by kind, never by
    // its wording. By default it is an ordinary message box.
    enum class Question { kUseAddressCredentials };
    virtual int Ask(Question, const std::string& text, const std::string& caption, unsigned style) {
        return MessageBox(text, caption, style);
    }
};

}  // namespace fennic
