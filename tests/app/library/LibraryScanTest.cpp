#include "app/library/LibraryScan.hpp"

#include "app/recorder/RecordingCoding.hpp"

#include "support/AudioFixtures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <gtest/gtest.h>

#include <QDateTime>

#include <stdexcept>

using parlino::LibraryScan;
using parlino::Recording;

namespace {

const QUuid shared = QUuid::fromString(QStringLiteral("11111111-2222-4333-8444-555555555555"));

void writeSidecar(const Recording& recording, const std::filesystem::path& path)
{
    const QByteArray json = parlino::encodeRecording(recording);
    testsupport::writeFile(path, json.toStdString());
}

Recording readSidecar(const std::filesystem::path& path)
{
    const std::string json = testsupport::readFile(path);
    return parlino::decodeRecording(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
}

QStringList strings(std::initializer_list<const char*> lines)
{
    QStringList list;
    for (const char* line : lines) {
        list << QString::fromUtf8(line);
    }
    return list;
}

} // namespace

TEST(LibraryScan, AListingBecomesRecordingsWithStagedSidecarsAndItsLinesInOrder)
{
    testsupport::TemporaryDirectory folder;
    const auto a = folder / "2025-01-01_1000_A.m4a";
    const auto b = folder / "2025-01-02_1000_B.m4a";
    const auto c = folder / "2025-01-03_1000_C.m4a";
    const auto d = folder / "2025-01-04_1000_D.m4a";
    for (const auto& audio : {a, b, c, d}) {
        testsupport::writeFile(audio, "audio");
    }
    Recording original;
    original.id = shared;
    original.audioURL = a;
    original.title = QStringLiteral("A");
    original.date = QDateTime(QDate(2025, 1, 1), QTime(10, 0), Qt::UTC);
    writeSidecar(original, folder / "2025-01-01_1000_A.json");
    // B's sidecar is a copy of A's, naming A's audio.
    writeSidecar(original, folder / "2025-01-02_1000_B.json");
    std::filesystem::create_directory(folder / "2025-01-03_1000_C.json");
    const LibraryScan::OrphanRecord orphanRecord = [&d](const std::filesystem::path& audioURL) {
        if (audioURL == d) {
            throw std::runtime_error("unreadable");
        }
        Recording recording;
        recording.id = QUuid::createUuidV5(shared, QByteArray::fromStdString(audioURL.filename().string()));
        recording.audioURL = audioURL;
        recording.title = QString::fromStdString(audioURL.stem().string()).section(QLatin1Char('_'), 2);
        recording.date = QDateTime(QDate(2025, 1, 3), QTime(10, 0), Qt::UTC);
        return recording;
    };

    LibraryScan scan = LibraryScan::of({a, b, c, d}, orphanRecord);

    ASSERT_EQ(scan.recordings.size(), 3);
    EXPECT_EQ(scan.recordings[0].id, shared);
    EXPECT_EQ(scan.recordings[1].audioURL, b);
    const QUuid renewed = scan.recordings[1].id;
    EXPECT_NE(renewed, shared);
    EXPECT_EQ(scan.recordings[2].title, QStringLiteral("C"));
    EXPECT_EQ(scan.lines,
        strings({"✅ Loaded: A", "✅ Loaded: A"})
            << QStringLiteral("⚠️ Duplicate id in 2025-01-02_1000_B.json, given a new one: ")
                    + renewed.toString(QUuid::WithoutBraces).toUpper()
            << strings({"⚠️ Unusable sidecar 2025-01-03_1000_C.json (not a regular file), set aside as "
                        "2025-01-03_1000_C.json.damaged",
                   "⚠️ Failed to load 2025-01-04_1000_D.m4a: unreadable"}));
    EXPECT_EQ(scan.setAside, std::vector {folder / "2025-01-03_1000_C.json.damaged"});
    ASSERT_EQ(scan.writes.size(), 2u);
    EXPECT_EQ(scan.writes[0].audioURL, b);
    EXPECT_EQ(scan.writes[0].doneLine, QStringLiteral("📝 Updated metadata: A"));
    EXPECT_EQ(scan.writes[1].audioURL, c);
    EXPECT_EQ(scan.writes[1].doneLine, QStringLiteral("📝 Created metadata: C"));
    EXPECT_TRUE(scan.changed);

    // Staged, not yet in place.
    EXPECT_EQ(readSidecar(folder / "2025-01-02_1000_B.json").id, shared);
    EXPECT_FALSE(std::filesystem::exists(folder / "2025-01-03_1000_C.json"));
    for (const std::exception_ptr& failure : scan.sidecars->commit()) {
        EXPECT_FALSE(failure);
    }
    EXPECT_EQ(readSidecar(folder / "2025-01-02_1000_B.json").id, renewed);
    EXPECT_EQ(readSidecar(folder / "2025-01-03_1000_C.json").id, scan.recordings[2].id);

    // Only the sidecars written since are read again; then nothing has changed.
    std::filesystem::remove(d);
    const LibraryScan next = LibraryScan::of({a, b, c}, orphanRecord, scan.memory);
    EXPECT_EQ(next.lines, strings({"✅ Loaded: A", "✅ Loaded: C"}));
    EXPECT_TRUE(next.writes.empty());
    EXPECT_TRUE(next.changed);
    ASSERT_EQ(next.recordings.size(), 3);
    EXPECT_EQ(next.recordings[1].id, renewed);
    const LibraryScan unchanged = LibraryScan::of({a, b, c}, orphanRecord, next.memory);
    EXPECT_TRUE(unchanged.lines.isEmpty());
    EXPECT_FALSE(unchanged.changed);
    EXPECT_EQ(unchanged.recordings.size(), 3);
    // A file gone is a change although nothing is read.
    EXPECT_TRUE(LibraryScan::of({a, b}, orphanRecord, next.memory).changed);
}
