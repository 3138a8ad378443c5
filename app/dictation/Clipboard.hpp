#pragma once

#include <QString>

namespace parlino {

// The general pasteboard as the screens and the paste road use it; the desktop's clipboard in the application, a
// recording fake in tests.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    virtual void clearContents() = 0;
    virtual void setText(const QString& text) = 0;
    virtual QString text() const = 0;

    // What a paste takes: the text alone, anything held before cleared.
    void replaceText(const QString& text)
    {
        clearContents();
        setText(text);
    }
};

// The desktop clipboard through Qt.
class SystemClipboard final : public Clipboard {
public:
    void clearContents() override;
    void setText(const QString& text) override;
    QString text() const override;
};

} // namespace parlino
