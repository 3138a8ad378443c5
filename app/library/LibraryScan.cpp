#include "app/library/LibraryScan.hpp"

#include "app/library/ConsoleLine.hpp"
#include "app/library/DuplicateIds.hpp"
#include "app/library/LibraryFolder.hpp"
#include "app/recorder/RecordingCoding.hpp"
#include "platform/system/RegularFile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <stdio.h>
#include <sys/stat.h>

namespace parlino {

namespace {

// The sidecar a load could not use keeps this suffix beside its recording: not ".json", so no
// load, export or sync reads it again, and not hidden, so the user finds it next to the audio.
constexpr const char* setAsideSuffix = ".damaged";

QString fileName(const std::filesystem::path& path)
{
    return QString::fromStdString(path.filename().string());
}

std::optional<LibraryScan::Stamp> stampOf(const std::filesystem::path& sidecar)
{
    struct stat status {};
    if (::lstat(sidecar.c_str(), &status) != 0) {
        return std::nullopt;
    }
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
    };
    return LibraryScan::Stamp {static_cast<std::uintmax_t>(status.st_size), nanoseconds(status.st_mtim),
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
        json = platform::RegularFile::read(sidecar, LibraryScan::largestSidecar);
    } catch (const std::filesystem::filesystem_error& error) {
        throw std::runtime_error(platform::RegularFile::reason(error));
    }
    return decodeRecording(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
}

// Moves an unusable sidecar out of the way under a name that says so; never replaces a file.
// The new name, or none when it could not be moved.
std::optional<std::filesystem::path> moveAside(const std::filesystem::path& sidecar)
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

// Each audio file's recording, read from its sidecar or remembered, else made for it; ids not yet
// resolved.
struct Reading {
    QList<ListedRecording> listed;
    // Per listed recording: the number of `lines` said up to and with it, and whether a new record
    // may get a sidecar (not when the one in its place could not be set aside).
    std::vector<qsizetype> linesThrough;
    std::vector<bool> wantsSidecar;
    QStringList lines;
    std::vector<std::filesystem::path> setAside;
    std::shared_ptr<LibraryScan::Memory> memory = std::make_shared<LibraryScan::Memory>();
    qsizetype remembered = 0;
    bool changed = false;

    void list(ListedRecording entry, bool wantsItsSidecar)
    {
        listed.append(std::move(entry));
        linesThrough.push_back(lines.size());
        wantsSidecar.push_back(wantsItsSidecar);
    }

    // Lists the recording the sidecar describes; false when there is none to use, the sidecar then
    // set aside if it can be. `mayWriteSidecar` says whether it could.
    bool listFromSidecar(const std::filesystem::path& audioURL, const LibraryScan::Memory* earlier,
        bool& mayWriteSidecar);
    void listOrphan(const std::filesystem::path& audioURL, const LibraryScan::OrphanRecord& orphanRecord,
        bool mayWriteSidecar);
};

bool Reading::listFromSidecar(
    const std::filesystem::path& audioURL, const LibraryScan::Memory* earlier, bool& mayWriteSidecar)
{
    const std::filesystem::path sidecar = LibraryFolder::sidecarURL(audioURL);
    std::error_code statusError;
    const std::filesystem::file_status status = std::filesystem::symlink_status(sidecar, statusError);
    if (!std::filesystem::exists(status)) {
        return false;
    }
    const QString name = fileName(audioURL);
    const std::optional<LibraryScan::Stamp> stamp
        = std::filesystem::is_regular_file(status) ? stampOf(sidecar) : std::nullopt;
    std::optional<LibraryScan::Known> known;
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
            lines << QStringLiteral("✅ Loaded: ") + recording.title;
            changed = true;
            known = LibraryScan::Known {stamp.value_or(LibraryScan::Stamp {}), std::move(recording), namesItsAudio};
        }
        if (stamp) {
            memory->insert(name, *known);
        }
        list({std::move(known->recording), known->namesItsAudio, true}, false);
        return true;
    } catch (const std::exception& failure) {
        const std::optional<std::filesystem::path> aside = moveAside(sidecar);
        mayWriteSidecar = aside.has_value();
        if (aside) {
            setAside.push_back(*aside);
        }
        lines << QStringLiteral("⚠️ Unusable sidecar ") + fileName(sidecar) + QStringLiteral(" (") + describe(failure)
                + (aside ? QStringLiteral("), set aside as ") + fileName(*aside)
                         : QStringLiteral("), left in place: it cannot be moved"));
        return false;
    }
}

void Reading::listOrphan(
    const std::filesystem::path& audioURL, const LibraryScan::OrphanRecord& orphanRecord, bool mayWriteSidecar)
{
    changed = true;
    try {
        list({orphanRecord(audioURL), true, false}, mayWriteSidecar);
    } catch (const std::exception& failure) {
        lines << QStringLiteral("⚠️ Failed to load ") + fileName(audioURL) + QStringLiteral(": ") + describe(failure);
    }
}

} // namespace

LibraryScan LibraryScan::of(const std::vector<std::filesystem::path>& audioFiles, const OrphanRecord& orphanRecord,
    const std::shared_ptr<const Memory>& earlier)
{
    Reading reading;
    reading.memory->reserve(static_cast<qsizetype>(audioFiles.size()));
    for (const std::filesystem::path& audioURL : audioFiles) {
        // A sidecar that cannot be set aside must not be replaced either.
        bool mayWriteSidecar = true;
        if (!reading.listFromSidecar(audioURL, earlier.get(), mayWriteSidecar)) {
            reading.listOrphan(audioURL, orphanRecord, mayWriteSidecar);
        }
    }

    const std::vector<IdRenewal> renewals = resolveDuplicateIds(reading.listed);

    // The lines of each listed recording, then those of the ids its arrival renewed and of its
    // sidecar, staged in that order.
    LibraryScan scan;
    const auto stage = [&scan](const Recording& recording, const QString& doneLine) {
        try {
            const QByteArray json = encodeRecording(recording);
            scan.sidecars->add(LibraryFolder::sidecarURL(recording.audioURL),
                std::string_view(json.constData(), static_cast<std::size_t>(json.size())));
            scan.writes.push_back({recording.audioURL, doneLine});
        } catch (const std::exception& failure) {
            scan.lines << QStringLiteral("⚠️ Failed to load ") + fileName(recording.audioURL) + QStringLiteral(": ")
                    + describe(failure);
        }
    };
    qsizetype said = 0;
    auto renewal = renewals.cbegin();
    for (qsizetype step = 0; step < reading.listed.size(); ++step) {
        scan.lines << reading.lines.mid(said, reading.linesThrough[step] - said);
        said = reading.linesThrough[step];
        for (; renewal != renewals.cend() && renewal->step == step; ++renewal) {
            scan.lines << renewal->line;
            stage(renewal->renewed, QStringLiteral("📝 Updated metadata: ") + renewal->renewed.title);
        }
        const Recording& recording = reading.listed[step].recording;
        if (reading.wantsSidecar[step]) {
            stage(recording, QStringLiteral("📝 Created metadata: ") + recording.title);
        }
    }
    scan.lines << reading.lines.mid(said);

    scan.recordings.reserve(reading.listed.size());
    for (ListedRecording& entry : reading.listed) {
        scan.recordings.append(std::move(entry.recording));
    }
    scan.setAside = std::move(reading.setAside);
    scan.changed = reading.changed || !renewals.empty() || !earlier || reading.remembered != earlier->size();
    scan.memory = std::move(reading.memory);
    return scan;
}

} // namespace parlino
