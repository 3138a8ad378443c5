#pragma once

#include "app/dictation/FeedbackSound.hpp"
#include "platform/input/ActiveWindow.hpp"

#include <QObject>
#include <QString>

#include <optional>

namespace parlino {

// What the screens use of pasting and feedback sounds. The dictation helper and the UI tests' fakes
// derive from it. Called on the Qt main thread.
class DictationHelperService : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Puts the text on the clipboard and pastes it into whatever window is in front; empty text
    // does nothing.
    virtual void pasteAtCursor(const QString& text) = 0;
    // Puts the text on the clipboard, brings `target` forward and pastes into it once it is in
    // front; a target that never comes forward gets nothing typed and the text stays on the
    // clipboard. Without a target the paste goes to whatever is in front. Empty text does nothing.
    virtual void pasteIntoApplication(const QString& text, std::optional<platform::input::FrontWindow> target) = 0;
    // Plays the sound unless the user turned sounds off.
    virtual void playFeedbackSound(FeedbackSound sound) = 0;
};

} // namespace parlino
