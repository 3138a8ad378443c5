#include "platform/input/KeyTap.hpp"

#include "platform/input/ErrorTrap.hpp"
#include "platform/input/InputError.hpp"
#include "platform/input/KeyboardLayout.hpp"
#include "platform/input/XConnection.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>

#include <algorithm>
#include <map>
#include <poll.h>
#include <set>

namespace platform::input {

class KeyTap::Recorder {
public:
    Recorder(const std::string& displayName, std::vector<Keysym> watched, EventHandler onEvent,
             OtherInputHandler onOtherInput, std::chrono::milliseconds startTimeout);
    ~Recorder();

    int fd() const { return data_.fd(); }
    void dispatch();
    bool hasQueuedEvents() const
    {
        return (!data_.isBroken() && XEventsQueued(data_.display(), QueuedAlready) > 0)
               || (!control_.isBroken() && XEventsQueued(control_.display(), QueuedAlready) > 0);
    }
    std::vector<Keysym> keysDown() const;
    unsigned modifierState() const;
    bool isBroken() const { return control_.isBroken() || data_.isBroken(); }

    std::vector<Keysym> heldAtStart;

private:
    static void intercept(XPointer self, XRecordInterceptData* data);
    void handle(const XRecordInterceptData& data);
    void readKeycodes();
    // Handles what arrives within `timeout` until `done` holds; false when it did not.
    template <typename Done>
    bool processUntil(std::chrono::milliseconds timeout, Done done);

    XConnection control_;
    XConnection data_;
    std::vector<Keysym> watched_;
    EventHandler onEvent_;
    OtherInputHandler onOtherInput_;
    XRecordContext context_ = 0;
    std::map<unsigned, Keysym> keycodes_;       // watched keycode -> its keysym
    std::set<unsigned> down_;                   // watched keycodes held now
    bool started_ = false;
    bool ended_ = false;
    int xkbEventBase_ = -1;
};

KeyTap::Recorder::Recorder(const std::string& displayName, std::vector<Keysym> watched, EventHandler onEvent,
                           OtherInputHandler onOtherInput, std::chrono::milliseconds startTimeout)
    : control_(displayName)
    , data_(displayName)
    , watched_(std::move(watched))
    , onEvent_(std::move(onEvent))
    , onOtherInput_(std::move(onOtherInput))
{
    int major = 0;
    int minor = 0;
    if (!XRecordQueryVersion(control_.display(), &major, &minor)) {
        throw InputError("the X server has no RECORD extension");
    }
    // A new keymap is announced on the control connection; dispatch() looks there before it reads
    // recorded keys, which the server sent later.
    int opcode = 0;
    int error = 0;
    int xkbMajor = XkbMajorVersion;
    int xkbMinor = XkbMinorVersion;
    if (XkbQueryExtension(control_.display(), &opcode, &xkbEventBase_, &error, &xkbMajor, &xkbMinor)) {
        XkbSelectEvents(control_.display(), XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
    }
    readKeycodes();

    XRecordClientSpec clients = XRecordAllClients;
    XRecordRange* range = XRecordAllocRange();
    if (!range) {
        throw InputError("cannot allocate a RECORD range");
    }
    range->device_events.first = KeyPress;
    range->device_events.last = ButtonPress;
    {
        ErrorTrap trap(control_.display());
        context_ = XRecordCreateContext(control_.display(), 0, &clients, 1, &range, 1);
        if (const auto error = trap.sync(); error || !context_) {
            XFree(range);
            throw InputError("the X server refused a RECORD context" + (error ? ": " + error->text : std::string()));
        }
    }
    XFree(range);
    if (!XRecordEnableContextAsync(data_.display(), context_, &Recorder::intercept, reinterpret_cast<XPointer>(this))) {
        XRecordFreeContext(control_.display(), context_);
        throw InputError("the X server did not enable the RECORD context");
    }
    // Keys pressed before the server begins recording would be missed; so wait for its first reply.
    if (!processUntil(startTimeout, [this] { return started_ || ended_; }) || ended_) {
        XRecordDisableContext(control_.display(), context_);
        XRecordFreeContext(control_.display(), context_);
        XSync(control_.display(), False);
        throw InputError("the X server did not start recording keys");
    }
    const auto held = keysDown();
    heldAtStart = held;
    for (const auto& [code, keysym] : keycodes_) {
        if (std::find(held.begin(), held.end(), keysym) != held.end()) {
            down_.insert(code);
        }
    }
}

KeyTap::Recorder::~Recorder()
{
    if (!isBroken()) {
        XRecordDisableContext(control_.display(), context_);
        XSync(control_.display(), False);
        processUntil(std::chrono::milliseconds(1000), [this] { return ended_; });
        XRecordFreeContext(control_.display(), context_);
        XSync(control_.display(), False);
    }
}

template <typename Done>
bool KeyTap::Recorder::processUntil(std::chrono::milliseconds timeout, Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    XRecordProcessReplies(data_.display());
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || data_.isBroken()) {
            return false;
        }
        pollfd readable {data_.fd(), POLLIN, 0};
        ::poll(&readable, 1, static_cast<int>(left.count()));
        XRecordProcessReplies(data_.display());
    }
    return true;
}

void KeyTap::Recorder::dispatch()
{
    bool mappingChanged = false;
    while (!control_.isBroken() && XPending(control_.display()) > 0) {
        XEvent event;
        XNextEvent(control_.display(), &event);
        mappingChanged = mappingChanged || event.type == xkbEventBase_ || event.type == MappingNotify;
    }
    if (mappingChanged) {
        readKeycodes();
    }
    if (!data_.isBroken()) {
        XRecordProcessReplies(data_.display());
    }
}

void KeyTap::Recorder::intercept(XPointer self, XRecordInterceptData* data)
{
    if (!data) {
        return;
    }
    reinterpret_cast<Recorder*>(self)->handle(*data);
    XRecordFreeData(data);
}

void KeyTap::Recorder::handle(const XRecordInterceptData& data)
{
    switch (data.category) {
    case XRecordStartOfData:
        started_ = true;
        return;
    case XRecordEndOfData:
        ended_ = true;
        return;
    case XRecordFromServer:
        break;
    default:
        return;
    }
    if (data.data_len * 4 < sizeof(xEvent)) {
        return;
    }
    const auto* event = reinterpret_cast<const xEvent*>(data.data);
    const int type = event->u.u.type & 0x7f;
    if (type != KeyPress && type != KeyRelease && type != ButtonPress) {
        return;
    }
    const unsigned code = event->u.u.detail;
    const auto watched = type == ButtonPress ? keycodes_.end() : keycodes_.find(code);
    if (watched == keycodes_.end()) {
        if (type != KeyRelease && onOtherInput_) {
            onOtherInput_();
        }
        return;
    }
    const bool pressed = type == KeyPress;
    if (pressed && !down_.insert(code).second) {
        return;
    }
    if (!pressed) {
        down_.erase(code);
    }
    const KeyTapEvent tapped {watched->second, pressed ? KeyTapEvent::Transition::pressed : KeyTapEvent::Transition::released,
                              event->u.keyButtonPointer.state, event->u.keyButtonPointer.time};
    if (onEvent_) {
        onEvent_(tapped);
    }
}

void KeyTap::Recorder::readKeycodes()
{
    std::map<unsigned, Keysym> found;
    for (const auto keysym : watched_) {
        for (const auto code : KeyboardLayout::keycodesFor(control_.display(), keysym)) {
            found.emplace(code, keysym);
        }
    }
    // A key that moved while held is no longer tracked under its old code.
    std::erase_if(down_, [&](unsigned code) { return !found.contains(code); });
    keycodes_ = std::move(found);
}

std::vector<Keysym> KeyTap::Recorder::keysDown() const
{
    if (isBroken()) {
        return {};
    }
    char keys[32] = {};
    XQueryKeymap(control_.display(), keys);
    // A server that died during the query leaves no answer worth reading.
    if (control_.isBroken()) {
        return {};
    }
    std::vector<Keysym> down;
    for (const auto& [code, keysym] : keycodes_) {
        if (code < 256 && (keys[code / 8] & (1 << (code % 8))) && std::find(down.begin(), down.end(), keysym) == down.end()) {
            down.push_back(keysym);
        }
    }
    return down;
}

unsigned KeyTap::Recorder::modifierState() const
{
    XkbStateRec state {};
    if (XkbGetState(control_.display(), XkbUseCoreKbd, &state) != Success) {
        return 0;
    }
    return state.mods;
}

KeyTap::KeyTap(const std::string& displayName, std::vector<Keysym> watchedKeys, EventHandler onEvent,
               OtherInputHandler onOtherInput, std::chrono::milliseconds startTimeout)
    : recorder_(std::make_unique<Recorder>(displayName, std::move(watchedKeys), std::move(onEvent),
                                           std::move(onOtherInput), startTimeout))
{
}

KeyTap::~KeyTap() = default;

int KeyTap::fd() const { return recorder_->fd(); }
void KeyTap::dispatch() { recorder_->dispatch(); }
bool KeyTap::hasQueuedEvents() const { return recorder_->hasQueuedEvents(); }
const std::vector<Keysym>& KeyTap::keysHeldAtStart() const { return recorder_->heldAtStart; }
std::vector<Keysym> KeyTap::keysDown() const { return recorder_->keysDown(); }
unsigned KeyTap::modifierState() const { return recorder_->modifierState(); }
bool KeyTap::isBroken() const { return recorder_->isBroken(); }

} // namespace platform::input
