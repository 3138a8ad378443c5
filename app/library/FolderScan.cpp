#include "app/library/FolderScan.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/LibraryFolder.hpp"
#include "app/recorder/RecordingCoding.hpp"
#include "platform/system/AtomicFileBatch.hpp"
#include "platform/system/RegularFile.hpp"

#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace parlino {

namespace {

// Names the fresh ids given to recordings whose sidecar repeats an id already listed.
const QUuid duplicateNamespace = QUuid::fromString(QStringLiteral("b3a4e7c2-58d1-4e0f-a6c9-1f2d3e4b5a69"));

// The sidecar a load could not use keeps this suffix beside its recording: not ".json", so no
// load, export or sync reads it again, and not hidden, so the user finds it next to the audio.
constexpr const char* setAsideSuffix = ".damaged";

QString fileName(const std::filesystem::path& path)
{
    return QString::fromStdString(path.filename().string());
}

QByteArray bytesOf(const std::filesystem::path& path)
{
    const std::string& native = path.native();
    return QByteArray(native.data(), static_cast<qsizetype>(native.size()));
}

std::optional<FolderScan::Stamp> stampOf(const std::filesystem::path& sidecar)
{
    struct stat status {};
    if (::lstat(sidecar.c_str(), &status) != 0) {
        return std::nullopt;
    }
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    return FolderScan::Stamp {static_cast<std::uintmax_t>(status.st_size), nanoseconds(status.st_mtim),
        nanoseconds(status.st_ctim), static_cast<std::uintmax_t>(status.st_ino)};
}

// The recording a sidecar describes; throws when it cannot be used. The sidecar is never opened
// unless it is a regular file, and then without waiting, so a FIFO or a device in its place
// cannot hold the load up.
Recording readSidecar(const std::filesystem::path& sidecar, const std::filesystem::file_status& status)
{
    if (!std::filesystem::is_regular_file(status)) {
        throw std::runtime_error("not a regular file");
    }
    std::string json;
    try {
        json = platform::RegularFile::read(sidecar, FolderScan::largestSidecar);
    } catch (const std::filesystem::filesystem_error& error) {
        throw std::runtime_error(platform::RegularFile::reason(error));
    }
    return decodeRecording(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
}

// Moves an unusable sidecar out of the way under a name that says so; never replaces a file.
// The new name, or none when it could not be moved.
std::optional<std::filesystem::path> setAside(const std::filesystem::path& sidecar)
{
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::filesystem::path target = sidecar;
        target += setAsideSuffix;
        if (attempt > 1) {
            target += "-" + std::to_string(attempt);
        }
        if (::renameat2(AT_FDCWD, sidecar.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return target;
        }
        if (errno == EINVAL) {
            // A file system that cannot refuse to replace: look first.
            std::error_code error;
            if (!std::filesystem::exists(std::filesystem::symlink_status(target, error))
                && ::rename(sidecar.c_str(), target.c_str()) == 0) {
                return target;
            }
        } else if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace

FolderScan::Outcome FolderScan::run(
    const std::filesystem::path& folder, const OrphanRecord& orphanRecord, const std::shared_ptr<const Memory>& earlier)
{
    Outcome outcome;
    std::vector<std::filesystem::path> audioFiles;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::directory_entry& entry = *entries;
        // Hidden names and other extensions are files still being written, among others.
        std::error_code typeError;
        if (LibraryFolder::isAudioName(entry.path().filename()) && entry.is_regular_file(typeError)) {
            audioFiles.push_back(entry.path());
        }
    }
    if (error) {
        outcome.failure = error.message();
        return outcome;
    }
    // The folder's own order is arbitrary; by name, equal dates come out the same at every load.
    std::sort(audioFiles.begin(), audioFiles.end());
    printLine(QStringLiteral("📂 Found %1 audio files").arg(audioFiles.size()));

    auto memory = std::make_shared<Memory>();
    memory->reserve(static_cast<qsizetype>(audioFiles.size()));
    qsizetype remembered = 0;
    bool changed = false;
    QList<Recording>& loaded = outcome.recordings;
    // Where each id is listed, and whether the sidecar it came from named its own audio file.
    QHash<QUuid, std::pair<qsizetype, bool>> ids;
    // Sidecars made or rewritten by this load go to the disk together once the list is made.
    platform::AtomicFileBatch sidecars;
    std::vector<std::pair<std::filesystem::path, QString>> written;
    const auto writeLater = [&](const Recording& recording, const QString& doneLine) {
        changed = true;
        try {
            const QByteArray json = encodeRecording(recording);
            sidecars.add(LibraryFolder::sidecarURL(recording.audioURL),
                         std::string_view(json.constData(), static_cast<std::size_t>(json.size())));
            written.emplace_back(recording.audioURL, doneLine);
        } catch (const std::exception& failure) {
            printLine(QStringLiteral("⚠️ Failed to load ") + fileName(recording.audioURL) + QStringLiteral(": ") + describe(failure));
        }
    };
    // A copied pair: one of the two gets an id of its own, the same at every load until written.
    const auto giveFreshId = [&](Recording& recording) {
        QUuid fresh = QUuid::createUuidV5(duplicateNamespace, recording.id.toByteArray() + '\n' + bytesOf(recording.audioURL.filename()));
        while (ids.contains(fresh)) {
            fresh = QUuid::createUuid();
        }
        printLine(QStringLiteral("⚠️ Duplicate id in ") + fileName(LibraryFolder::sidecarURL(recording.audioURL))
                  + QStringLiteral(", given a new one: ") + fresh.toString(QUuid::WithoutBraces).toUpper());
        recording.id = fresh;
        ids.insert(fresh, {-1, true});
        writeLater(recording, QStringLiteral("📝 Updated metadata: ") + recording.title);
    };
    for (const std::filesystem::path& audioURL : audioFiles) {
        const std::filesystem::path sidecar = LibraryFolder::sidecarURL(audioURL);
        const QString name = fileName(audioURL);
        std::error_code statusError;
        const std::filesystem::file_status status = std::filesystem::symlink_status(sidecar, statusError);
        // A sidecar that cannot be set aside must not be replaced either.
        bool mayWriteSidecar = true;
        if (std::filesystem::exists(status)) {
            const std::optional<Stamp> stamp = std::filesystem::is_regular_file(status) ? stampOf(sidecar) : std::nullopt;
            std::optional<Known> known;
            if (earlier && stamp) {
                if (const auto found = earlier->constFind(name); found != earlier->cend() && found->sidecar == *stamp) {
                    known = *found;
                    ++remembered;
                }
            }
            try {
                if (!known) {
                    Recording recording = readSidecar(sidecar, status);
                    // The copy of a pair is the one whose sidecar names another file.
                    const bool namesItsAudio = recording.audioURL == audioURL;
                    // The sidecar describes the audio beside it, wherever its stored path points.
                    recording.audioURL = audioURL;
                    printLine(QStringLiteral("✅ Loaded: ") + recording.title);
                    changed = true;
                    known = Known {stamp.value_or(Stamp {}), std::move(recording), namesItsAudio};
                }
                if (stamp) {
                    memory->insert(name, *known);
                }
                Recording recording = std::move(known->recording);
                const bool namesItsAudio = known->namesItsAudio;
                if (const auto listed = ids.constFind(recording.id); listed != ids.cend()) {
                    const auto [index, listedNamesItsAudio] = *listed;
                    if (index >= 0 && namesItsAudio && !listedNamesItsAudio) {
                        giveFreshId(loaded[index]);
                        ids[loaded[index].id] = {index, false};
                    } else {
                        giveFreshId(recording);
                    }
                }
                ids.insert(recording.id, {loaded.size(), namesItsAudio});
                loaded.append(std::move(recording));
                continue;
            } catch (const std::exception& failure) {
                const std::optional<std::filesystem::path> aside = setAside(sidecar);
                mayWriteSidecar = aside.has_value();
                printLine(QStringLiteral("⚠️ Unusable sidecar ") + fileName(sidecar) + QStringLiteral(" (") + describe(failure)
                          + (aside ? QStringLiteral("), set aside as ") + fileName(*aside)
                                   : QStringLiteral("), left in place: it cannot be moved")));
            }
        }
        changed = true;
        Recording recording;
        try {
            recording = orphanRecord(audioURL);
        } catch (const std::exception& failure) {
            printLine(QStringLiteral("⚠️ Failed to load ") + name + QStringLiteral(": ") + describe(failure));
            continue;
        }
        while (ids.contains(recording.id)) {
            recording.id = QUuid::createUuid();
        }
        ids.insert(recording.id, {loaded.size(), true});
        loaded.append(recording);
        if (mayWriteSidecar) {
            writeLater(recording, QStringLiteral("📝 Created metadata: ") + recording.title);
        }
    }
    const std::vector<std::exception_ptr> results = sidecars.commit();
    for (std::size_t index = 0; index < results.size(); ++index) {
        const auto& [audioURL, doneLine] = written[index];
        if (results[index]) {
            printLine(QStringLiteral("⚠️ Failed to load ") + fileName(audioURL) + QStringLiteral(": ") + describe(results[index]));
        } else {
            printLine(doneLine);
        }
    }
    // Stable: recordings of the same date keep their order.
    std::stable_sort(loaded.begin(), loaded.end(), [](const Recording& a, const Recording& b) { return a.date > b.date; });
    outcome.changed = changed || !earlier || remembered != earlier->size();
    outcome.memory = std::move(memory);
    return outcome;
}

} // namespace parlino
