#pragma once

#include "platform/input/XEventSource.hpp"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

struct wl_display;
struct wl_interface;
struct wl_registry;
struct wl_seat;

namespace platform::input {

// A connection of our own to the Wayland compositor, with the globals it announced and its first
// seat. Events are read as XEventNotifier reads an X connection: dispatch() when fd() turns readable.
// Single-threaded.
class WaylandDisplay final : public XEventSource {
public:
    static constexpr std::chrono::milliseconds replyLimit {2000};

    // `name` empty: $WAYLAND_DISPLAY (a socket name in $XDG_RUNTIME_DIR, or an absolute path).
    // Throws InputError when no compositor answers or it offers no seat.
    explicit WaylandDisplay(const std::string& name = {});
    ~WaylandDisplay() override;
    WaylandDisplay(const WaylandDisplay&) = delete;
    WaylandDisplay& operator=(const WaylandDisplay&) = delete;

    wl_display* display() const { return display_; }
    wl_seat* seat() const { return seat_; }
    bool offers(const char* interface) const;
    // Binds the announced global at the lower of its version and `version`; nullptr when absent.
    void* bind(const wl_interface& interface, std::uint32_t version) const;

    // Sends what is buffered. Throws InputError when the connection is broken.
    void flush();
    // Returns once the compositor has handled every request sent before, running the events it
    // sent meanwhile. Throws InputError when it does not answer within replyLimit or the
    // connection broke (a protocol error included).
    void roundtrip();

    int fd() const override;
    void dispatch() override;
    bool hasQueuedEvents() const override;

private:
    struct Global {
        std::uint32_t name;
        std::uint32_t version;
    };
    static void announced(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version);
    static void removed(void* data, wl_registry* registry, std::uint32_t name);
    void throwIfBroken(const char* doing) const;
    void release();

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::map<std::string, Global> globals_;
};

} // namespace platform::input
