#include "app/dictation/WaylandClipboard.hpp"

#include "app/dictation/XEventNotifier.hpp"
#include "platform/input/DataControlClipboard.hpp"
#include "platform/input/InputError.hpp"

namespace parlino {

WaylandClipboard::WaylandClipboard(const std::string& displayName)
    : control_(std::make_unique<platform::input::DataControlClipboard>(displayName))
{
    events_ = std::make_unique<XEventNotifier>(*control_);
}

WaylandClipboard::~WaylandClipboard()
{
    events_.reset();
}

void WaylandClipboard::giveUpControl() const
{
    events_.reset();
    control_.reset();
}

void WaylandClipboard::clearContents()
{
    if (control_) {
        try {
            control_->clear();
            return;
        } catch (const platform::input::InputError&) {
            giveUpControl();
        }
    }
    fallback_.clearContents();
}

void WaylandClipboard::setText(const QString& text)
{
    if (control_) {
        try {
            control_->setText(text.toStdString());
            return;
        } catch (const platform::input::InputError&) {
            giveUpControl();
        }
    }
    fallback_.setText(text);
}

QString WaylandClipboard::text() const
{
    if (control_) {
        try {
            return QString::fromStdString(control_->text());
        } catch (const platform::input::InputError&) {
            // An owner that does not answer says nothing about the control itself.
            return {};
        }
    }
    return fallback_.text();
}

} // namespace parlino
