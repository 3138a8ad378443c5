#pragma once

#include "app/recorder/Recording.hpp"

#include <QList>
#include <QString>

#include <vector>

namespace parlino {

// A recording as a load lists it, before repeated ids are resolved.
struct ListedRecording {
    Recording recording;
    // Whether its sidecar's audio path named the file beside it: a copy's names another.
    bool namesItsAudio = true;
    // Read from a sidecar, not made for audio found without one.
    bool fromSidecar = true;
};

// A recording given an id of its own because another one listed repeats its id.
struct IdRenewal {
    // The listing's index whose arrival showed the repetition.
    qsizetype step = 0;
    // The index of the recording that gave up the id: `step` itself, or the copy listed before it.
    qsizetype index = 0;
    // That recording with its new id, as it was then; its sidecar is to be rewritten so.
    Recording renewed;
    QString line;
};

// Makes every id in `listed` unique, in listing order. Of a copied pair (two sidecars with one id),
// the one whose sidecar names its own audio keeps the id, else the first listed; the other gets an id
// made from the old one and its file name, so the same at every load until its sidecar is written. A
// record made for audio without a sidecar gets a random id when its own is taken, and no renewal.
std::vector<IdRenewal> resolveDuplicateIds(QList<ListedRecording>& listed);

} // namespace parlino
