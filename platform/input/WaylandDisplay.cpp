#include "platform/input/WaylandDisplay.hpp"

#include "platform/input/InputError.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

namespace platform::input {

namespace {

struct SyncDone {
    bool done = false;
};

const wl_callback_listener syncListener {[](void* data, wl_callback*, std::uint32_t) { static_cast<SyncDone*>(data)->done = true; }};

} // namespace

void WaylandDisplay::announced(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t version)
{
    auto& self = *static_cast<WaylandDisplay*>(data);
    // The first of several seats is the one typed into.
    self.globals_.try_emplace(interface, Global {name, version});
}

void WaylandDisplay::removed(void* data, wl_registry*, std::uint32_t name)
{
    auto& globals = static_cast<WaylandDisplay*>(data)->globals_;
    std::erase_if(globals, [name](const auto& entry) { return entry.second.name == name; });
}

WaylandDisplay::WaylandDisplay(const std::string& name)
    : display_(wl_display_connect(name.empty() ? nullptr : name.c_str()))
{
    if (!display_) {
        throw InputError("Cannot connect to the Wayland compositor" + (name.empty() ? std::string() : " " + name));
    }
    static const wl_registry_listener listener {&WaylandDisplay::announced, &WaylandDisplay::removed};
    try {
        registry_ = wl_display_get_registry(display_);
        wl_registry_add_listener(registry_, &listener, this);
        roundtrip();
        seat_ = static_cast<wl_seat*>(bind(wl_seat_interface, 1));
        if (!seat_) {
            throw InputError("The Wayland compositor offers no seat");
        }
        flush();
    } catch (...) {
        release();
        throw;
    }
}

WaylandDisplay::~WaylandDisplay()
{
    release();
}

void WaylandDisplay::release()
{
    if (seat_) {
        wl_seat_destroy(seat_);
        seat_ = nullptr;
    }
    if (registry_) {
        wl_registry_destroy(registry_);
        registry_ = nullptr;
    }
    if (display_) {
        wl_display_disconnect(display_);
        display_ = nullptr;
    }
}

bool WaylandDisplay::offers(const char* interface) const
{
    return globals_.contains(interface);
}

void* WaylandDisplay::bind(const wl_interface& interface, std::uint32_t version) const
{
    const auto found = globals_.find(interface.name);
    if (found == globals_.end()) {
        return nullptr;
    }
    return wl_registry_bind(registry_, found->second.name, &interface, std::min(version, found->second.version));
}

void WaylandDisplay::throwIfBroken(const char* doing) const
{
    if (const int error = wl_display_get_error(display_)) {
        std::uint32_t code = 0;
        const wl_interface* interface = nullptr;
        wl_display_get_protocol_error(display_, &interface, nullptr);
        if (error == EPROTO && interface) {
            code = wl_display_get_protocol_error(display_, nullptr, nullptr);
            throw InputError(std::string("The Wayland compositor refused ") + interface->name + " (error "
                             + std::to_string(code) + ") while " + doing);
        }
        throw InputError(std::string("The Wayland connection broke while ") + doing + ": " + std::strerror(error));
    }
}

void WaylandDisplay::flush()
{
    // A full socket buffer is sent on by the next flush; only a broken connection is a failure.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        throwIfBroken("sending");
        throw InputError(std::string("Cannot write to the Wayland compositor: ") + std::strerror(errno));
    }
}

void WaylandDisplay::roundtrip()
{
    SyncDone sync;
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &syncListener, &sync);
    const auto deadline = std::chrono::steady_clock::now() + replyLimit;
    try {
        while (!sync.done) {
            while (wl_display_prepare_read(display_) != 0) {
                if (wl_display_dispatch_pending(display_) < 0) {
                    throwIfBroken("waiting for the compositor");
                }
            }
            if (sync.done) {
                wl_display_cancel_read(display_);
                break;
            }
            if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
                wl_display_cancel_read(display_);
                throwIfBroken("waiting for the compositor");
                throw InputError("Cannot write to the Wayland compositor");
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd connection {wl_display_get_fd(display_), POLLIN, 0};
            const int ready = left.count() > 0 ? ::poll(&connection, 1, static_cast<int>(left.count())) : 0;
            if (ready <= 0) {
                wl_display_cancel_read(display_);
                if (ready < 0 && errno == EINTR) {
                    continue;
                }
                throw InputError("The Wayland compositor did not answer");
            }
            if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
                throwIfBroken("waiting for the compositor");
            }
        }
    } catch (...) {
        wl_callback_destroy(callback);
        throw;
    }
    wl_callback_destroy(callback);
}

int WaylandDisplay::fd() const
{
    return wl_display_get_fd(display_);
}

void WaylandDisplay::dispatch()
{
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            return;
        }
    }
    wl_display_flush(display_);
    pollfd connection {wl_display_get_fd(display_), POLLIN, 0};
    if (::poll(&connection, 1, 0) > 0 && (connection.revents & POLLIN)) {
        wl_display_read_events(display_);
    } else {
        wl_display_cancel_read(display_);
    }
    wl_display_dispatch_pending(display_);
    wl_display_flush(display_);
}

bool WaylandDisplay::hasQueuedEvents() const
{
    if (wl_display_prepare_read(display_) != 0) {
        return true;
    }
    wl_display_cancel_read(display_);
    return false;
}

} // namespace platform::input
