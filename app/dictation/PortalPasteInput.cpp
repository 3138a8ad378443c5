#include "app/dictation/PortalPasteInput.hpp"

#include "platform/input/Keys.hpp"

#include <stdexcept>
#include <utility>

namespace parlino {

namespace keysym = platform::input::keysym;

PortalPasteInput::PortalPasteInput(QDBusConnection bus, Clock& clock, platform::UserDefaults& defaults, bool withClipboard,
                                   QObject* parent)
    : QObject(parent)
    , defaults_(defaults)
    , withClipboard_(withClipboard)
    , portal_(std::move(bus),
              [&clock](std::chrono::milliseconds delay, QObject* context, std::function<void()> action) {
                  clock.schedule(delay, context, std::move(action));
              },
              {
                  .onStarted = [this](bool) {
                      starting_ = false;
                      failure_.clear();
                      for (const auto& keys : std::exchange(waiting_, {})) {
                          send(keys);
                      }
                      if (onChange_) {
                          onChange_();
                      }
                  },
                  .onRestoreToken = [this](const QString& token) {
                      defaults_.setString(QString::fromLatin1(restoreTokenKey), token);
                  },
                  .onFailed = [this](const QString& reason) {
                      starting_ = false;
                      failure_ = reason;
                      waiting_.clear();
                      // A token the desktop no longer honours would fail every start; the next one asks.
                      defaults_.remove(QString::fromLatin1(restoreTokenKey));
                      if (onChange_) {
                          onChange_();
                      }
                  },
              },
              this)
{
}

PortalPasteInput::~PortalPasteInput() = default;

void PortalPasteInput::start()
{
    if (portal_.isStarted() || starting_) {
        return;
    }
    starting_ = true;
    failure_.clear();
    portal_.start(defaults_.stringValue(QString::fromLatin1(restoreTokenKey)), withClipboard_);
}

std::optional<platform::input::FrontWindow> PortalPasteInput::frontmost()
{
    // Some other window has the focus; the compositor names none to its clients.
    return platform::input::FrontWindow {};
}

bool PortalPasteInput::activate(platform::input::WindowId)
{
    // Nothing can be raised from here; the keys go to the window with the focus.
    return true;
}

unsigned PortalPasteInput::heldModifiers()
{
    return 0;
}

bool PortalPasteInput::requireSession()
{
    if (portal_.isStarted()) {
        return true;
    }
    if (failure_.isEmpty()) {
        start();
        return false;
    }
    const QString reason = failure_;
    start();
    throw std::runtime_error(reason.toStdString());
}

void PortalPasteInput::tap(std::initializer_list<int> keysyms)
{
    if (requireSession()) {
        send(keysyms);
    } else {
        waiting_.emplace_back(keysyms);
    }
}

void PortalPasteInput::send(const std::vector<int>& keysyms)
{
    for (const int key : keysyms) {
        portal_.sendKeysym(key, true);
    }
    for (auto key = keysyms.rbegin(); key != keysyms.rend(); ++key) {
        portal_.sendKeysym(*key, false);
    }
}

void PortalPasteInput::postPaste()
{
    tap({int(keysym::controlLeft), int(keysym::v)});
}

void PortalPasteInput::postReturn()
{
    tap({int(keysym::returnKey)});
}

void PortalPasteInput::typeText(const QString& text)
{
    for (const char32_t character : text.toUcs4()) {
        if (character == U'\n') {
            tap({int(keysym::returnKey)});
            continue;
        }
        // Latin-1 characters are their own keysyms; the others have Unicode keysyms.
        tap({int(character < 0x100 ? character : 0x01000000 | character)});
    }
}

} // namespace parlino
