// Times the selection of a recording with a very long transcript in the Recordings pane: from the
// click on its row to the end of the paint that shows its transcript in the detail pane. The pane
// runs on Qt's offscreen platform over the real library, which reads the recordings from their
// sidecars in a temporary folder; the recorder and the desktop are the UI tests' stand-ins.
// Its figures go to standard error; the library's own lines to standard output.
// Exit status 1 when the first selection or the median of the later ones misses the goal (0.5 s).
#include "FakeDictation.hpp"
#include "FakeRecorder.hpp"

#include "app/dictation/Clock.hpp"
#include "app/library/AudioPlayerManager.hpp"
#include "app/library/FolderExportManager.hpp"
#include "app/library/RecordingsManager.hpp"
#include "app/recorder/RecordingCoding.hpp"
#include "app/ui/design/AnimationClock.hpp"
#include "app/ui/design/Theme.hpp"
#include "app/ui/recordings/MacRecordingsListView.hpp"
#include "platform/settings/UserDefaults.hpp"
#include "support/AudioFixtures.hpp"
#include "support/BenchFigures.hpp"
#include "support/TemporaryDirectory.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using testsupport::loadAverage;
using testsupport::peakResidentMiB;

constexpr double goalSeconds = 0.5;

// Words of speech, some with letters outside ASCII, until the text is `bytes` long in UTF-8.
QString transcriptOf(std::size_t bytes)
{
    static const char* const words[] = {"so", "the", "budget", "review", "naïve", "approach", "we", "agreed", "on",
        "Friday", "příliš", "žluťoučký", "kůň", "and", "then", "moved", "on", "to", "hiring."};
    std::string text;
    text.reserve(bytes + 32);
    for (std::size_t index = 0; text.size() < bytes; ++index) {
        text += words[index % std::size(words)];
        text += ' ';
    }
    return QString::fromStdString(text);
}

parlino::Recording recordingOf(const std::filesystem::path& audio, const QString& title, const QString& transcript,
    const QDateTime& date)
{
    parlino::Recording recording;
    recording.id = QUuid::createUuid();
    recording.audioURL = audio;
    recording.title = title;
    recording.transcription = transcript;
    recording.duration = 2;
    recording.date = date;
    return recording;
}

// Notes the paints of the transcript's label.
class PaintWatch final : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->objectName() == QLatin1String("detailTranscript")) {
            painted = true;
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const std::size_t megabytes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    parlino::design::Theme::apply(application);

    testsupport::TemporaryDirectory root;
    const std::filesystem::path folder = root.path() / "Parlino";
    std::filesystem::create_directories(folder);
    const QDateTime date(QDate(2025, 3, 14), QTime(9, 30), Qt::UTC);
    for (const char* name : {"2025-03-14_0930_Long-talk.m4a", "2025-03-13_1000_Standup.m4a"}) {
        testsupport::writeAudioFile(folder / name, 16000, {testsupport::noise(2 * 16000, 0.3f)});
    }
    std::fprintf(stderr, "Writing a sidecar with a %zu MB transcript...\n", megabytes);
    std::ofstream(folder / "2025-03-14_0930_Long-talk.json", std::ios::binary)
        << parlino::encodeRecording(recordingOf(folder / "2025-03-14_0930_Long-talk.m4a", QStringLiteral("Long talk"),
                                                transcriptOf(megabytes * 1000 * 1000), date))
               .toStdString();
    std::ofstream(folder / "2025-03-13_1000_Standup.json", std::ios::binary)
        << parlino::encodeRecording(recordingOf(folder / "2025-03-13_1000_Standup.m4a", QStringLiteral("Standup"),
                                                QStringLiteral("Anna finished the onboarding flow."), date.addDays(-1)))
               .toStdString();
    const std::string loadBefore = loadAverage();

    QElapsedTimer loading;
    loading.start();
    parlino::RecordingsManager library(folder);
    library.loadRecordings();
    const double loadSeconds = loading.nsecsElapsed() / 1e9;

    platform::UserDefaults defaults(root.path() / "parlino.conf");
    uitest::FakeRecorder recorder(defaults);
    parlino::AudioPlayerManager player;
    parlino::FolderExportManager exportManager(defaults, library);
    uitest::FakeGlobeDictation globeDictation;
    uitest::FakeHotkey hotkey;
    uitest::FakeDictationHelper dictationHelper;
    uitest::FakeClipboard clipboard;
    uitest::FakeUrlOpener urlOpener;
    parlino::design::SystemAnimationClock clock;
    parlino::AppServices services {
        .defaults = defaults,
        .recorder = recorder,
        .library = library,
        .audioPlayer = player,
        .exportManager = exportManager,
        .globeDictation = globeDictation,
        .hotkey = hotkey,
        .dictationHelper = dictationHelper,
        .clipboard = clipboard,
        .urlOpener = urlOpener,
        .timer = parlino::SystemClock::shared(),
        .clock = clock,
    };
    parlino::MacRecordingsListView view(services);
    view.resize(1100, 720);
    view.show();
    QApplication::setActiveWindow(&view);
    for (int pass = 0; pass < 6; ++pass) {
        QCoreApplication::processEvents();
    }
    PaintWatch watch;
    application.installEventFilter(&watch);

    QListView& list = *view.listView();
    const auto rowOf = [&](const QString& title) {
        for (int row = 0; row < list.model()->rowCount(); ++row) {
            if (list.model()->index(row, 0).data().toString() == title) {
                return list.model()->index(row, 0);
            }
        }
        std::fprintf(stderr, "transcript-select-bench: no row %s\n", qPrintable(title));
        std::exit(2);
    };
    // Seconds from the click on the row to the end of the paint that shows the transcript.
    const auto select = [&](const QString& title) {
        const QModelIndex row = rowOf(title);
        watch.painted = false;
        QElapsedTimer clicked;
        clicked.start();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.visualRect(row).center());
        while (!watch.painted) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (clicked.elapsed() > 600'000) {
                std::fprintf(stderr, "transcript-select-bench: the transcript of %s was never painted\n", qPrintable(title));
                std::exit(2);
            }
        }
        return clicked.nsecsElapsed() / 1e9;
    };

    const QString longTitle = QStringLiteral("Long talk");
    const double first = select(longTitle);
    const auto* shown = view.findChild<QLabel*>(QStringLiteral("detailTranscript"));
    const QString expected = library.recordings().front().transcription;
    if (!shown || shown->text().isEmpty() || !expected.startsWith(shown->text())) {
        std::fprintf(stderr, "transcript-select-bench: the pane does not show the long transcript\n");
        return 2;
    }
    std::vector<double> again;
    for (int run = 0; run < runs; ++run) {
        select(QStringLiteral("Standup"));
        again.push_back(select(longTitle));
    }
    std::sort(again.begin(), again.end());
    std::fprintf(stderr, "transcript of %zu MB (%lld characters), library load %.2f s\n", megabytes,
        static_cast<long long>(expected.size()), loadSeconds);
    std::fprintf(stderr, "%-34s %8.3f s\n", "first selection until painted", first);
    std::fprintf(stderr, "%-34s %8.3f s  (fastest %.3f s, slowest %.3f s, %d runs)\n", "selected again: median", again[again.size() / 2],
        again.front(), again.back(), runs);
    std::fprintf(stderr, "goal: under %.1f s; peak resident %.0f MiB\n", goalSeconds, peakResidentMiB());
    std::fprintf(stderr, "load average before: %s, after: %s\n", loadBefore.c_str(), loadAverage().c_str());
    return first < goalSeconds && again[again.size() / 2] < goalSeconds ? 0 : 1;
}
