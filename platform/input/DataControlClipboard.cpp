#include "platform/input/DataControlClipboard.hpp"

#include "platform/input/InputError.hpp"
#include "platform/input/WaylandDisplay.hpp"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace platform::input {

namespace {

// Text types in the order a reader prefers them; all are offered.
constexpr std::array<const char*, 5> textTypes {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"};

using Clock = std::chrono::steady_clock;

int remainingMilliseconds(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

// Writes all of `data` to a paster's pipe, giving up at the time limit or when the reader has gone.
// SIGPIPE is held back for this thread meanwhile: a reader that went away must not end the program.
void serve(int fd, std::string_view data)
{
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const auto deadline = Clock::now() + DataControlClipboard::transferLimit;
    bool brokenPipe = false;
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count > 0) {
            data.remove_prefix(static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && errno == EAGAIN) {
            pollfd pipe {fd, POLLOUT, 0};
            if (::poll(&pipe, 1, remainingMilliseconds(deadline)) > 0) {
                continue;
            }
        }
        brokenPipe = count < 0 && errno == EPIPE;
        break;
    }
    ::close(fd);
    if (brokenPipe) {
        const timespec now {0, 0};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Reads a pipe to its end within the time limit.
std::string drain(int fd)
{
    std::string data;
    const auto deadline = Clock::now() + DataControlClipboard::transferLimit;
    for (;;) {
        pollfd pipe {fd, POLLIN, 0};
        const int ready = ::poll(&pipe, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            ::close(fd);
            throw InputError("The clipboard's owner did not send its text");
        }
        char buffer[4096];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (count <= 0) {
            ::close(fd);
            return data;
        }
        data.append(buffer, static_cast<std::size_t>(count));
    }
}

// The two managers differ in their names alone.
#define PARLINO_DATA_CONTROL(Name, prefix)                                                                                  \
    struct Name {                                                                                                          \
        using Manager = prefix##_manager_v1;                                                                               \
        using Device = prefix##_device_v1;                                                                                 \
        using Source = prefix##_source_v1;                                                                                 \
        using Offer = prefix##_offer_v1;                                                                                   \
        using DeviceListener = prefix##_device_v1_listener;                                                                \
        using SourceListener = prefix##_source_v1_listener;                                                                \
        using OfferListener = prefix##_offer_v1_listener;                                                                  \
        static const wl_interface& manager() { return prefix##_manager_v1_interface; }                                    \
        static Source* createSource(Manager* m) { return prefix##_manager_v1_create_data_source(m); }                     \
        static Device* device(Manager* m, wl_seat* seat) { return prefix##_manager_v1_get_data_device(m, seat); }         \
        static void destroy(Manager* m) { prefix##_manager_v1_destroy(m); }                                               \
        static void setSelection(Device* d, Source* s) { prefix##_device_v1_set_selection(d, s); }                        \
        static void listen(Device* d, const DeviceListener* l, void* data) { prefix##_device_v1_add_listener(d, l, data); } \
        static void destroy(Device* d) { prefix##_device_v1_destroy(d); }                                                 \
        static void offer(Source* s, const char* type) { prefix##_source_v1_offer(s, type); }                             \
        static void listen(Source* s, const SourceListener* l, void* data) { prefix##_source_v1_add_listener(s, l, data); } \
        static void destroy(Source* s) { prefix##_source_v1_destroy(s); }                                                 \
        static void receive(Offer* o, const char* type, int fd) { prefix##_offer_v1_receive(o, type, fd); }              \
        static void listen(Offer* o, const OfferListener* l, void* data) { prefix##_offer_v1_add_listener(o, l, data); }  \
        static void destroy(Offer* o) { prefix##_offer_v1_destroy(o); }                                                   \
    };

PARLINO_DATA_CONTROL(ExtDataControl, ext_data_control)
PARLINO_DATA_CONTROL(WlrDataControl, zwlr_data_control)
#undef PARLINO_DATA_CONTROL

} // namespace

class DataControlClipboard::Control {
public:
    virtual ~Control() = default;
    virtual const char* protocol() const = 0;
    virtual void setText(const std::string& utf8) = 0;
    virtual void clear() = 0;
    virtual std::string text() = 0;
};

namespace {

template <typename P>
class ControlOf final : public DataControlClipboard::Control {
public:
    ControlOf(WaylandDisplay& display, typename P::Manager* manager)
        : display_(display)
        , manager_(manager)
        , device_(P::device(manager, display.seat()))
    {
        static const typename P::DeviceListener listener {&ControlOf::introduced, &ControlOf::selected, &ControlOf::finished,
                                                         &ControlOf::primarySelected};
        P::listen(device_, &listener, this);
    }
    ~ControlOf() override
    {
        if (source_) {
            P::destroy(source_);
        }
        for (auto& [offer, types] : offers_) {
            P::destroy(offer);
        }
        if (device_) {
            P::destroy(device_);
        }
        P::destroy(manager_);
    }

    const char* protocol() const override { return P::manager().name; }

    void setText(const std::string& utf8) override
    {
        usable();
        auto* source = P::createSource(manager_);
        static const typename P::SourceListener listener {&ControlOf::send, &ControlOf::cancelled};
        P::listen(source, &listener, this);
        for (const char* type : textTypes) {
            P::offer(source, type);
        }
        P::setSelection(device_, source);
        replaceSource(source);
        text_ = utf8;
        display_.roundtrip();
    }

    void clear() override
    {
        usable();
        P::setSelection(device_, nullptr);
        replaceSource(nullptr);
        text_.clear();
        display_.roundtrip();
    }

    std::string text() override
    {
        usable();
        display_.roundtrip();
        if (source_) {
            return text_;
        }
        const auto offered = offers_.find(selection_);
        if (!selection_ || offered == offers_.end()) {
            return {};
        }
        const auto& types = offered->second;
        const auto type = std::find_if(textTypes.begin(), textTypes.end(), [&types](const char* wanted) {
            return std::find(types.begin(), types.end(), wanted) != types.end();
        });
        if (type == textTypes.end()) {
            return {};
        }
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) {
            throw InputError("Cannot read the clipboard: no pipe");
        }
        P::receive(selection_, *type, pipe[1]);
        ::close(pipe[1]);
        try {
            display_.flush();
        } catch (...) {
            ::close(pipe[0]);
            throw;
        }
        return drain(pipe[0]);
    }

private:
    void usable() const
    {
        if (!device_) {
            throw InputError("The Wayland compositor ended our control of the clipboard");
        }
    }

    void replaceSource(typename P::Source* source)
    {
        if (source_) {
            P::destroy(source_);
        }
        source_ = source;
    }

    void forget(typename P::Offer* offer)
    {
        if (offer && offers_.erase(offer)) {
            P::destroy(offer);
        }
    }

    static void introduced(void* data, typename P::Device*, typename P::Offer* offer)
    {
        auto& self = *static_cast<ControlOf*>(data);
        static const typename P::OfferListener listener {&ControlOf::offersType};
        self.offers_[offer];
        P::listen(offer, &listener, data);
    }
    static void offersType(void* data, typename P::Offer* offer, const char* type)
    {
        auto& self = *static_cast<ControlOf*>(data);
        if (const auto found = self.offers_.find(offer); found != self.offers_.end()) {
            found->second.emplace_back(type);
        }
    }
    static void selected(void* data, typename P::Device*, typename P::Offer* offer)
    {
        auto& self = *static_cast<ControlOf*>(data);
        if (self.selection_ != offer) {
            self.forget(self.selection_);
        }
        self.selection_ = offer;
    }
    static void primarySelected(void* data, typename P::Device*, typename P::Offer* offer)
    {
        // Only the clipboard is ours to serve; the primary selection's offers are let go at once.
        static_cast<ControlOf*>(data)->forget(offer);
    }
    static void finished(void* data, typename P::Device*)
    {
        auto& self = *static_cast<ControlOf*>(data);
        P::destroy(self.device_);
        self.device_ = nullptr;
    }
    static void send(void* data, typename P::Source* source, const char*, int fd)
    {
        auto& self = *static_cast<ControlOf*>(data);
        if (source != self.source_) {
            ::close(fd);
            return;
        }
        serve(fd, self.text_);
    }
    static void cancelled(void* data, typename P::Source* source)
    {
        // Another client took the clipboard.
        auto& self = *static_cast<ControlOf*>(data);
        if (source == self.source_) {
            self.source_ = nullptr;
            self.text_.clear();
        }
        P::destroy(source);
    }

    WaylandDisplay& display_;
    typename P::Manager* manager_;
    typename P::Device* device_;
    typename P::Source* source_ = nullptr;
    typename P::Offer* selection_ = nullptr;
    std::map<typename P::Offer*, std::vector<std::string>> offers_;
    std::string text_;
};

} // namespace

DataControlClipboard::DataControlClipboard(const std::string& displayName)
    : display_(std::make_unique<WaylandDisplay>(displayName))
{
    if (auto* ext = static_cast<ext_data_control_manager_v1*>(display_->bind(ext_data_control_manager_v1_interface, 1))) {
        control_ = std::make_unique<ControlOf<ExtDataControl>>(*display_, ext);
    } else if (auto* wlr = static_cast<zwlr_data_control_manager_v1*>(display_->bind(zwlr_data_control_manager_v1_interface, 1))) {
        control_ = std::make_unique<ControlOf<WlrDataControl>>(*display_, wlr);
    } else {
        throw InputError("The Wayland compositor offers no clipboard control (ext-data-control-v1 or "
                         "zwlr_data_control_manager_v1)");
    }
    display_->roundtrip();
}

DataControlClipboard::~DataControlClipboard()
{
    control_.reset();
    try {
        display_->flush();
    } catch (const InputError&) {
        // The compositor is gone, and the clipboard with it.
    }
}

const char* DataControlClipboard::protocol() const
{
    return control_->protocol();
}

void DataControlClipboard::setText(const std::string& utf8)
{
    control_->setText(utf8);
}

void DataControlClipboard::clear()
{
    control_->clear();
}

std::string DataControlClipboard::text()
{
    return control_->text();
}

int DataControlClipboard::fd() const
{
    return display_->fd();
}

void DataControlClipboard::dispatch()
{
    display_->dispatch();
}

bool DataControlClipboard::hasQueuedEvents() const
{
    return display_->hasQueuedEvents();
}

} // namespace platform::input
