#pragma once

#include "app/dictation/Clipboard.hpp"

#include <memory>

namespace parlino {

class PortalPasteInput;

// The clipboard of the desktop's remote desktop session, which another application in front can
// paste from; `fallback` (Qt's clipboard) serves while that session offers none.
class PortalClipboard final : public Clipboard {
public:
    PortalClipboard(std::shared_ptr<PortalPasteInput> session, std::unique_ptr<Clipboard> fallback);
    ~PortalClipboard() override;

    void clearContents() override;
    void setText(const QString& text) override;
    QString text() const override;

private:
    std::shared_ptr<PortalPasteInput> session_;
    std::unique_ptr<Clipboard> fallback_;
    QString text_;
};

} // namespace parlino
