#pragma once

#include "app/dictation/Clipboard.hpp"

#include <memory>
#include <string>

namespace platform::input {
class DataControlClipboard;
}

namespace parlino {

class XEventNotifier;

// The desktop clipboard on Wayland through the compositor's clipboard control, which may be set while
// another application is in front (a Wayland window's own clipboard may not). Should the control fail
// later (the compositor ends it), Qt's clipboard keeps the text from then on.
class WaylandClipboard final : public Clipboard {
public:
    // `displayName` empty: $WAYLAND_DISPLAY. Throws platform::input::InputError when the compositor
    // cannot be reached or offers no clipboard control.
    explicit WaylandClipboard(const std::string& displayName = {});
    ~WaylandClipboard() override;

    void clearContents() override;
    void setText(const QString& text) override;
    QString text() const override;

private:
    void giveUpControl() const;

    mutable std::unique_ptr<XEventNotifier> events_;
    mutable std::unique_ptr<platform::input::DataControlClipboard> control_;
    SystemClipboard fallback_;
};

} // namespace parlino
