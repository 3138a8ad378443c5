#pragma once

#include <QString>

namespace parlino {

// Characters as a reader counts them: grapheme clusters, so an emoji or a letter with its accent
// is one.
qsizetype characterCount(const QString& text);
// The first `count` such characters, all of the text when it is shorter.
QString firstCharacters(const QString& text, qsizetype count);

} // namespace parlino
