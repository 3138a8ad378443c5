#include "app/dictation/PortalClipboard.hpp"

#include "app/dictation/PortalPasteInput.hpp"

namespace parlino {

PortalClipboard::PortalClipboard(std::shared_ptr<PortalPasteInput> session, std::unique_ptr<Clipboard> fallback)
    : session_(std::move(session))
    , fallback_(std::move(fallback))
{
}

PortalClipboard::~PortalClipboard() = default;

void PortalClipboard::clearContents()
{
    text_.clear();
    fallback_->clearContents();
}

void PortalClipboard::setText(const QString& text)
{
    // Kept on Qt's clipboard too, so that it is there for this program's own window either way.
    fallback_->setText(text);
    text_ = text;
    // The session's clipboard is asked for along with its keyboard; a paste is what starts it.
    session_->start();
    if (session_->portal().hasClipboard()) {
        session_->portal().setClipboardText(text);
    }
}

QString PortalClipboard::text() const
{
    return session_->portal().hasClipboard() ? text_ : fallback_->text();
}

} // namespace parlino
