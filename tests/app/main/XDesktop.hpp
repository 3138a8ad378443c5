#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

class QImage;
struct _XDisplay;

namespace testsupport {

// The test's own hands on an X display: pointer clicks and key presses through XTEST, the program
// windows the window manager lists, closing one as its close button would, and a minimal system
// tray (the selection owner that embeds the icons docked with it).
class XDesktop {
public:
    struct Rect {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        int centerX() const { return x + width / 2; }
        int centerY() const { return y + height / 2; }
    };

    // Nullptr, with the reason in `whyNot`, when the display cannot be reached or lacks XTEST.
    static std::unique_ptr<XDesktop> connect(const std::string& displayName, std::string& whyNot);
    ~XDesktop();
    XDesktop(const XDesktop&) = delete;
    XDesktop& operator=(const XDesktop&) = delete;

    void click(int x, int y, int button = 1);
    // A press and release of the key with this keysym name ("space", "Up", "Return").
    void tapKey(const std::string& keysymName);
    // Taps the keys of lower-case letters, digits and blanks.
    void typeText(const std::string& text);
    void pressKey(const std::string& keysymName);
    // The server holds the release back by `after`, so that the key is down at least that long.
    void releaseKey(const std::string& keysymName, std::chrono::milliseconds after = {});
    // Turns the wheel over the point: negative steps scroll up.
    void scroll(int x, int y, int steps);

    // What the screen shows in the rectangle, as the server has it.
    QImage capture(const Rect& area);
    // The window's inside on the screen; nothing when it is gone.
    std::optional<Rect> windowPlace(unsigned long window);

    // The window manager's client window of the process; 0 while it has none mapped.
    unsigned long windowOfProcess(int pid);
    // The window manager's active window; 0 while none is.
    unsigned long activeWindow();
    // Asks the window to close (WM_DELETE_WINDOW), as its title bar's close button does.
    void closeWindow(unsigned long window);
    bool isViewable(unsigned long window);

    // Owns the screen's system tray selection from now on; false when another client does.
    bool becomeSystemTray();
    // Waits for a program to dock an icon, embeds and shows it; its place on the screen.
    std::optional<Rect> waitForTrayIcon(std::chrono::milliseconds timeout);

private:
    XDesktop() = default;

    _XDisplay* display_ = nullptr;
    unsigned long tray_ = 0;
};

} // namespace testsupport
