#include "app/library/DuplicateIds.hpp"

#include "app/library/LibraryFolder.hpp"

#include <QHash>
#include <QUuid>

#include <utility>

namespace parlino {

namespace {

// Names the fresh ids given to recordings whose sidecar repeats an id already listed.
const QUuid duplicateNamespace = QUuid::fromString(QStringLiteral("b3a4e7c2-58d1-4e0f-a6c9-1f2d3e4b5a69"));

QByteArray bytesOf(const std::filesystem::path& path)
{
    const std::string& native = path.native();
    return QByteArray(native.data(), static_cast<qsizetype>(native.size()));
}

} // namespace

std::vector<IdRenewal> resolveDuplicateIds(QList<ListedRecording>& listed)
{
    std::vector<IdRenewal> renewals;
    // Where each id is listed, and whether the sidecar it came from named its own audio file.
    QHash<QUuid, std::pair<qsizetype, bool>> ids;
    const auto renew = [&](qsizetype step, qsizetype index) {
        Recording& recording = listed[index].recording;
        QUuid fresh = QUuid::createUuidV5(
            duplicateNamespace, recording.id.toByteArray() + '\n' + bytesOf(recording.audioURL.filename()));
        while (ids.contains(fresh)) {
            fresh = QUuid::createUuid();
        }
        recording.id = fresh;
        renewals.push_back({step, index, recording,
            QStringLiteral("⚠️ Duplicate id in ")
                + QString::fromStdString(LibraryFolder::sidecarURL(recording.audioURL).filename().string())
                + QStringLiteral(", given a new one: ") + fresh.toString(QUuid::WithoutBraces).toUpper()});
    };
    for (qsizetype step = 0; step < listed.size(); ++step) {
        ListedRecording& entry = listed[step];
        if (!entry.fromSidecar) {
            while (ids.contains(entry.recording.id)) {
                entry.recording.id = QUuid::createUuid();
            }
            ids.insert(entry.recording.id, {step, true});
            continue;
        }
        if (const auto found = ids.constFind(entry.recording.id); found != ids.cend()) {
            const auto [index, listedNamesItsAudio] = *found;
            if (entry.namesItsAudio && !listedNamesItsAudio) {
                renew(step, index);
                ids.insert(listed[index].recording.id, {index, false});
            } else {
                renew(step, step);
            }
        }
        ids.insert(entry.recording.id, {step, entry.namesItsAudio});
    }
    return renewals;
}

} // namespace parlino
