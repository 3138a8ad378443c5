#include "app/dictation/InputBackends.hpp"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace parlino {

template <typename Made>
struct InputBackends::Job {
    // What a job without any backend says it lacks.
    std::string nothingRegistered;
    std::vector<Backend<Made>> backends;
    std::unique_ptr<Made> chosen;
    std::string chosenName;
    std::vector<std::string> reasons;

    void add(Backend<Made> backend)
    {
        const auto at = std::upper_bound(backends.begin(), backends.end(), backend.rank,
                                         [](int rank, const Backend<Made>& other) { return rank < other.rank; });
        backends.insert(at, std::move(backend));
    }

    // The chosen backend, choosing one now when none is yet; nullptr while none is offered.
    Made* get()
    {
        if (chosen) {
            return chosen.get();
        }
        reasons.clear();
        for (const auto& backend : backends) {
            std::string missing = backend.missing ? backend.missing() : std::string {};
            if (missing.empty()) {
                try {
                    chosen = backend.make();
                } catch (const std::exception& error) {
                    missing = error.what();
                }
            }
            if (chosen) {
                chosenName = backend.name;
                return chosen.get();
            }
            reasons.push_back(backend.name + ": " + (missing.empty() ? "not available" : missing));
        }
        return nullptr;
    }

    std::string missingText()
    {
        if (get()) {
            return {};
        }
        if (reasons.empty()) {
            return nothingRegistered;
        }
        std::string text;
        for (const auto& reason : reasons) {
            text += (text.empty() ? "" : "; ") + reason;
        }
        return text;
    }

    std::string name()
    {
        get();
        return chosenName;
    }
};

class InputBackends::ChosenTriggers final : public TriggerInput {
public:
    explicit ChosenTriggers(InputBackends& owner)
        : owner_(owner)
    {
    }

    std::string missing() override
    {
        TriggerInput* input = owner_.triggerJob_->get();
        return input ? input->missing() : owner_.triggerJob_->missingText();
    }
    void startTap(Handlers handlers) override
    {
        TriggerInput* input = owner_.triggerJob_->get();
        if (!input) {
            throw std::runtime_error(owner_.triggerJob_->missingText());
        }
        input->startTap(std::move(handlers));
    }
    void stopTap() override
    {
        if (TriggerInput* input = owner_.triggerJob_->chosen.get()) {
            input->stopTap();
        }
    }
    bool isTapRunning() const override
    {
        const TriggerInput* input = owner_.triggerJob_->chosen.get();
        return input && input->isTapRunning();
    }
    std::vector<platform::input::Keysym> keysHeldAtStart() const override
    {
        const TriggerInput* input = owner_.triggerJob_->chosen.get();
        return input ? input->keysHeldAtStart() : std::vector<platform::input::Keysym> {};
    }
    bool isCapsLockOn() const override
    {
        const TriggerInput* input = owner_.triggerJob_->chosen.get();
        return input && input->isCapsLockOn();
    }
    std::optional<platform::input::FrontWindow> frontmost() override
    {
        TriggerInput* input = owner_.triggerJob_->get();
        return input ? input->frontmost() : std::nullopt;
    }
    std::string howToGrant() override { return owner_.howToGrant(); }
    std::string tapName() override
    {
        TriggerInput* input = owner_.triggerJob_->chosen.get();
        return input ? input->tapName() : TriggerInput::tapName();
    }
    std::string brokenReason() override
    {
        TriggerInput* input = owner_.triggerJob_->chosen.get();
        return input ? input->brokenReason() : TriggerInput::brokenReason();
    }
    std::string notice() override
    {
        TriggerInput* input = owner_.triggerJob_->chosen.get();
        return input ? input->notice() : std::string {};
    }

private:
    InputBackends& owner_;
};

class InputBackends::ChosenHotkey final : public HotkeyInput {
public:
    explicit ChosenHotkey(InputBackends& owner)
        : owner_(owner)
    {
    }

    void grab(platform::input::Keysym keysym, unsigned xModifiers) override
    {
        HotkeyInput* input = backend();
        if (!input) {
            throw std::runtime_error(owner_.hotkeyJob_->missingText());
        }
        input->grab(keysym, xModifiers);
    }
    void ungrab() override
    {
        if (HotkeyInput* input = owner_.hotkeyJob_->chosen.get()) {
            input->ungrab();
        }
    }
    void setOnPressed(std::function<void()> onPressed) override { onPressed_ = std::move(onPressed); }

private:
    HotkeyInput* backend()
    {
        HotkeyInput* input = owner_.hotkeyJob_->get();
        if (input && !forwarding_) {
            forwarding_ = true;
            input->setOnPressed([this] {
                if (onPressed_) {
                    onPressed_();
                }
            });
        }
        return input;
    }

    InputBackends& owner_;
    std::function<void()> onPressed_;
    bool forwarding_ = false;
};

class InputBackends::ChosenTyping final : public PasteInput {
public:
    explicit ChosenTyping(InputBackends& owner)
        : owner_(owner)
    {
    }

    std::optional<platform::input::FrontWindow> frontmost() override
    {
        PasteInput* input = owner_.typingJob_->get();
        return input ? input->frontmost() : std::nullopt;
    }
    bool activate(platform::input::WindowId window) override
    {
        PasteInput* input = owner_.typingJob_->get();
        return input && input->activate(window);
    }
    unsigned heldModifiers() override
    {
        PasteInput* input = owner_.typingJob_->get();
        return input ? input->heldModifiers() : 0;
    }
    void postPaste() override { backend().postPaste(); }
    void postReturn() override { backend().postReturn(); }

private:
    PasteInput& backend()
    {
        PasteInput* input = owner_.typingJob_->get();
        if (!input) {
            throw std::runtime_error(owner_.typingJob_->missingText());
        }
        return *input;
    }

    InputBackends& owner_;
};

class InputBackends::ChosenClipboard final : public Clipboard {
public:
    explicit ChosenClipboard(InputBackends& owner)
        : owner_(owner)
    {
    }

    void clearContents() override
    {
        if (Clipboard* clipboard = owner_.clipboardJob_->get()) {
            clipboard->clearContents();
        }
        kept_.clear();
    }
    void setText(const QString& text) override
    {
        if (Clipboard* clipboard = owner_.clipboardJob_->get()) {
            clipboard->setText(text);
        }
        kept_ = text;
    }
    QString text() const override
    {
        const Clipboard* clipboard = owner_.clipboardJob_->chosen.get();
        return clipboard ? clipboard->text() : kept_;
    }

private:
    InputBackends& owner_;
    QString kept_;
};

InputBackends::Session InputBackends::sessionFromEnvironment()
{
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return wayland && *wayland ? Session::wayland : Session::x11;
}

InputBackends::InputBackends(Session session)
    : session_(session)
    , triggerJob_(std::make_unique<Job<TriggerInput>>())
    , hotkeyJob_(std::make_unique<Job<HotkeyInput>>())
    , typingJob_(std::make_unique<Job<PasteInput>>())
    , clipboardJob_(std::make_unique<Job<Clipboard>>())
    , triggers_(std::make_unique<ChosenTriggers>(*this))
    , hotkey_(std::make_unique<ChosenHotkey>(*this))
    , typing_(std::make_unique<ChosenTyping>(*this))
    , clipboard_(std::make_unique<ChosenClipboard>(*this))
{
    triggerJob_->nothingRegistered = "no way to watch other programs' keys on this desktop";
    hotkeyJob_->nothingRegistered = "no way to take a global hotkey on this desktop";
    typingJob_->nothingRegistered = "no way to type into other programs on this desktop";
    clipboardJob_->nothingRegistered = "no clipboard other programs can read on this desktop";
}

InputBackends::~InputBackends()
{
    // The stand-ins forward to the jobs' backends; they go first.
    triggers_.reset();
    hotkey_.reset();
    typing_.reset();
    clipboard_.reset();
}

InputBackends& InputBackends::shared()
{
    static InputBackends* backends = [] {
        auto* made = new InputBackends(sessionFromEnvironment());
        if (made->session() == Session::x11) {
            registerX11Backends(*made);
        } else {
            registerEvdevBackends(*made);
            registerWaylandProtocolBackends(*made);
            registerPortalBackends(*made);
            made->addClipboard({"Qt", Rank::qtClipboard, {}, [] { return std::make_unique<SystemClipboard>(); }, {}});
        }
        return made;
    }();
    return *backends;
}

void InputBackends::addTriggers(TriggerBackend backend)
{
    triggerJob_->add(std::move(backend));
}

void InputBackends::addHotkey(HotkeyBackend backend)
{
    hotkeyJob_->add(std::move(backend));
}

void InputBackends::addTyping(TypingBackend backend)
{
    typingJob_->add(std::move(backend));
}

void InputBackends::addClipboard(ClipboardBackend backend)
{
    clipboardJob_->add(std::move(backend));
}

TriggerInput& InputBackends::triggers()
{
    return *triggers_;
}

HotkeyInput& InputBackends::hotkey()
{
    return *hotkey_;
}

PasteInput& InputBackends::typing()
{
    return *typing_;
}

Clipboard& InputBackends::clipboard()
{
    return *clipboard_;
}

std::string InputBackends::triggersName()
{
    return triggerJob_->name();
}

std::string InputBackends::hotkeyName()
{
    return hotkeyJob_->name();
}

std::string InputBackends::typingName()
{
    return typingJob_->name();
}

std::string InputBackends::clipboardName()
{
    return clipboardJob_->name();
}

std::string InputBackends::triggersMissing()
{
    return triggers_->missing();
}

std::string InputBackends::howToGrant()
{
    if (session_ == Session::x11) {
        return TriggerInput::x11Grant;
    }
    std::string text;
    for (const auto& backend : triggerJob_->backends) {
        if (!backend.grant.empty()) {
            text += (text.empty() ? "" : " Or: ") + backend.grant;
        }
    }
    return text.empty() ? "Log in to an X11 (Xorg) session, then start Parlino again" : text;
}

} // namespace parlino
