#pragma once

#include <QFont>
#include <QString>

namespace parlino::design {

// The platform's named text styles; sizes in pixels at font scale 1.
enum class TextStyle { title, title2, title3, headline, subheadline, body, callout, caption, caption2 };

// The design's fonts. The interface face is Inter; the rounded design uses Inter Display (no rounded
// face is packaged), and monospaced digits are laid out in equal cells by the painting helpers.
class Font {
public:
    enum class Design { standard, rounded, monospaced };

    static constexpr const char* interfaceFamily = "Inter";
    static constexpr const char* displayFamily = "Inter Display";
    static constexpr const char* symbolFamily = "Material Icons";

    // Registers the packaged interface and symbol fonts with the application; true when every face
    // was found. Safe to call more than once.
    static bool loadBundledFonts();

    // Every size below is multiplied by this: the desktop's text scaling, 1 at 96 dots per inch.
    static double scale();
    static void setScale(double scale);
    // The text scaling the desktop asks for through the screen's logical resolution.
    static double desktopScale();

    static QFont system(double pixelSize, QFont::Weight weight = QFont::Normal, Design design = Design::standard);
    static QFont textStyle(TextStyle style);
    static QFont textStyle(TextStyle style, QFont::Weight weight);

    static QFont displayLarge();
    static QFont displayMedium();
    static QFont titleLarge();
    static QFont titleMedium();
    static QFont bodyText();
    static QFont calloutText();
    static QFont captionText();
    static QFont timerDisplay();
};

} // namespace parlino::design
