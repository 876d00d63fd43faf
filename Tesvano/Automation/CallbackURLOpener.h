#pragma once

#include <QUrl>
#include <string_view>

namespace tesvano {

// Opens the callback URLs of the automation interface. The program hands them to the desktop;
// tests replace it to see what would have been opened.
class CallbackURLOpener {
public:
    virtual ~CallbackURLOpener() = default;
    // Asks for the URL to be opened; whether anything answers it is not known here.
    virtual void open(std::string_view url) = 0;
};

// The desktop's URL opener (xdg-open under X11 sessions) through Qt.
class DesktopCallbackURLOpener final : public CallbackURLOpener {
public:
    void open(std::string_view url) override;

    // The URL as Qt carries it to the opener. Percent escapes stay as they were written, so a
    // reply's values read back exactly; anything else not allowed in a URL gets encoded.
    static QUrl toQUrl(std::string_view url);
};

}  // namespace tesvano
