#pragma once

#include "app/dictation/Clipboard.hpp"

namespace parlino {

// A clipboard the program holds itself, for a desktop whose clipboard other applications cannot be
// given: pastes type its text. Qt's clipboard gets a copy, for our own windows and for the user.
class HeldClipboard final : public Clipboard {
public:
    void clearContents() override
    {
        text_.clear();
        desktop_.clearContents();
    }
    void setText(const QString& text) override
    {
        text_ = text;
        desktop_.setText(text);
    }
    QString text() const override { return text_; }

private:
    QString text_;
    SystemClipboard desktop_;
};

} // namespace parlino
