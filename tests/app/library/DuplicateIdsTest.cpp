#include "app/library/DuplicateIds.hpp"

#include <gtest/gtest.h>

#include <QSet>

using parlino::IdRenewal;
using parlino::ListedRecording;
using parlino::Recording;
using parlino::resolveDuplicateIds;

namespace {

const QUuid shared = QUuid::fromString(QStringLiteral("11111111-2222-4333-8444-555555555555"));
const QUuid other = QUuid::fromString(QStringLiteral("99999999-2222-4333-8444-555555555555"));

// `copy`: its sidecar names another audio file; `orphan`: made for audio found without a sidecar.
ListedRecording entry(const char* stem, QUuid id, bool copy = false, bool orphan = false)
{
    Recording recording;
    recording.id = id;
    recording.audioURL = std::filesystem::path("/library") / (std::string(stem) + ".m4a");
    recording.title = QString::fromLatin1(stem);
    return {recording, !copy, !orphan};
}

QString line(const char* stem, QUuid fresh)
{
    return QStringLiteral("⚠️ Duplicate id in ") + QString::fromLatin1(stem) + QStringLiteral(".json, given a new one: ")
        + fresh.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

TEST(DuplicateIds, TheCopyGivesUpTheIdOrElseTheLaterOneAndEachRenewalIsSaidOnce)
{
    struct Case {
        const char* name;
        QList<ListedRecording> listed;
        // Per listed recording: whether it keeps the id it came with.
        std::vector<bool> keeps;
        // Per renewal, in order: the step that showed it and the recording renewed.
        std::vector<std::pair<qsizetype, qsizetype>> renewals;
    };
    const std::vector<Case> cases = {
        {"no repetition", {entry("a", shared), entry("b", other)}, {true, true}, {}},
        {"the later copy", {entry("a", shared), entry("b", shared, true)}, {true, false}, {{1, 1}}},
        {"the earlier copy yields to the original", {entry("a", shared, true), entry("b", shared)}, {false, true},
            {{1, 0}}},
        {"two originals: the later", {entry("a", shared), entry("b", shared)}, {true, false}, {{1, 1}}},
        {"two copies: the later", {entry("a", shared, true), entry("b", shared, true)}, {true, false}, {{1, 1}}},
        {"three of one id", {entry("a", shared, true), entry("b", shared), entry("c", shared, true)},
            {false, true, false}, {{1, 0}, {2, 2}}},
        {"a sidecar after a new record", {entry("a", shared, false, true), entry("b", shared, true)}, {true, false},
            {{1, 1}}},
        {"a new record after a sidecar", {entry("a", shared), entry("b", shared, false, true)}, {true, false}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QList<ListedRecording> listed = c.listed;
        const std::vector<IdRenewal> renewals = resolveDuplicateIds(listed);

        QSet<QUuid> ids;
        for (qsizetype index = 0; index < listed.size(); ++index) {
            ids.insert(listed[index].recording.id);
            EXPECT_EQ(listed[index].recording.id == c.listed[index].recording.id, c.keeps[index]) << index;
        }
        EXPECT_EQ(ids.size(), listed.size());
        ASSERT_EQ(renewals.size(), c.renewals.size());
        for (std::size_t at = 0; at < renewals.size(); ++at) {
            const IdRenewal& renewal = renewals[at];
            EXPECT_EQ(renewal.step, c.renewals[at].first);
            EXPECT_EQ(renewal.index, c.renewals[at].second);
            const Recording& renewed = listed[renewal.index].recording;
            EXPECT_EQ(renewal.renewed.id, renewed.id);
            EXPECT_EQ(renewal.renewed.audioURL, renewed.audioURL);
            EXPECT_EQ(renewal.line, line(renewed.title.toLatin1().constData(), renewed.id));
        }
        // The same listing gets the same new ids at every load, until the sidecars are rewritten.
        QList<ListedRecording> again = c.listed;
        resolveDuplicateIds(again);
        for (qsizetype index = 0; index < again.size(); ++index) {
            if (c.listed[index].fromSidecar) {
                EXPECT_EQ(again[index].recording.id, listed[index].recording.id) << index;
            }
        }
    }
}

TEST(DuplicateIds, ARenewedCopyCanBeRenewedAgainAndEachRenewalKeepsItsOwnState)
{
    QList<ListedRecording> listed = {entry("a", shared, true), entry("b", shared)};
    const QUuid first = [&] {
        QList<ListedRecording> pair = listed;
        resolveDuplicateIds(pair);
        return pair[0].recording.id;
    }();
    // A third sidecar already holds the id the copy would get, and names its own audio.
    listed.append(entry("c", first));
    const std::vector<IdRenewal> renewals = resolveDuplicateIds(listed);
    ASSERT_EQ(renewals.size(), 2u);
    EXPECT_EQ(renewals[0].index, 0);
    EXPECT_EQ(renewals[0].renewed.id, first);
    EXPECT_EQ(renewals[1].step, 2);
    EXPECT_EQ(renewals[1].index, 0);
    EXPECT_NE(renewals[1].renewed.id, first);
    EXPECT_EQ(listed[0].recording.id, renewals[1].renewed.id);
    EXPECT_EQ(listed[2].recording.id, first);
}
