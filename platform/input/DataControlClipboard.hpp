#pragma once

#include "platform/input/XEventSource.hpp"

#include <chrono>
#include <memory>
#include <string>

namespace platform::input {

class WaylandDisplay;

// The clipboard of a Wayland desktop (its first seat's selection) through a data-control manager,
// which, unlike a window's own clipboard, may be set and read while another application is in front:
// ext-data-control-v1, else zwlr_data_control_manager_v1. The text set stays offered, and is sent
// to whoever pastes it, until another client takes the clipboard; that needs dispatch() run as
// events arrive (XEventNotifier). Single-threaded.
class DataControlClipboard final : public XEventSource {
public:
    // How long reading the clipboard waits for its owner, and serving it for a paster.
    static constexpr std::chrono::milliseconds transferLimit {2000};

    // `displayName` empty: $WAYLAND_DISPLAY. Throws InputError when no compositor answers or it
    // offers neither manager.
    explicit DataControlClipboard(const std::string& displayName = {});
    ~DataControlClipboard() override;
    DataControlClipboard(const DataControlClipboard&) = delete;
    DataControlClipboard& operator=(const DataControlClipboard&) = delete;

    // The manager's interface in use.
    const char* protocol() const;

    // Each returns once the compositor holds the change. Throw InputError when it refuses, has gone,
    // or has ended the clipboard's control.
    void setText(const std::string& utf8);
    void clear();
    // The clipboard's text; empty when it holds none. Throws InputError when its owner does not send
    // it within transferLimit.
    std::string text();

    int fd() const override;
    void dispatch() override;
    bool hasQueuedEvents() const override;

    class Control;

private:
    std::unique_ptr<WaylandDisplay> display_;
    std::unique_ptr<Control> control_;
};

} // namespace platform::input
