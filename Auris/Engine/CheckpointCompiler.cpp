#include "Auris/Engine/CheckpointCompiler.hpp"

#include "Auris/Engine/Auris.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "platform/ml/ModelFolder.hpp"
#include "platform/ml/compiler/CheckpointConverter.hpp"
#include "platform/ml/compiler/SafetensorsCheckpoint.hpp"
#include "platform/system/DirectoryLock.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace auris {

namespace fs = std::filesystem;

namespace {

constexpr const char* configFileName = "config.json";
constexpr const char* generationConfigFileName = "generation_config.json";
constexpr std::int64_t unitsPerFile = 100;
constexpr std::int64_t compileSteps = 1000;

std::int64_t wholeUnits(double fraction, std::int64_t total)
{
    if (!std::isfinite(fraction) || fraction <= 0) {
        return 0;
    }
    return fraction >= 1 ? total : static_cast<std::int64_t>(fraction * static_cast<double>(total));
}

bool listed(const std::vector<std::string>& listing, const std::string& name)
{
    return std::find(listing.begin(), listing.end(), name) != listing.end();
}

// Removed on scope exit unless kept.
class TemporaryFolder {
public:
    explicit TemporaryFolder(fs::path path)
        : path_(std::move(path))
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored); // a crashed run's leftovers
        fs::create_directories(path_);
    }
    ~TemporaryFolder()
    {
        if (!kept_) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const fs::path& path() const { return path_; }
    void moveTo(const fs::path& destination)
    {
        std::error_code ignored;
        // Only an unusable folder can be in the way here; the caller checked.
        fs::remove_all(destination, ignored);
        fs::rename(path_, destination);
        kept_ = true;
    }

private:
    fs::path path_;
    bool kept_ = false;
};

} // namespace

CheckpointCompiler::CheckpointCompiler(const hub::HubApi& hubApi, std::string checkpointRepository, fs::path modelFolder)
    : hubApi_(hubApi)
    , repo_(std::move(checkpointRepository), hub::RepoType::models)
    , modelFolder_(std::move(modelFolder))
{
}

bool CheckpointCompiler::isComplete(const fs::path& modelFolder)
{
    for (const char* bundle : {Auris::melBundleName, Auris::audioEncoderBundleName, Auris::textDecoderBundleName}) {
        try {
            ml::ModelFolder::open(modelFolder / bundle);
        } catch (const std::exception&) {
            return false;
        }
    }
    return true;
}

CheckpointCompiler::CheckpointFiles CheckpointCompiler::chooseFiles(const std::vector<std::string>& listing) const
{
    CheckpointFiles files;
    if (!listed(listing, configFileName)) {
        throw std::runtime_error("The checkpoint repository " + repo_.id + " holds no " + configFileName);
    }
    files.configurations.push_back(configFileName);
    if (listed(listing, generationConfigFileName)) {
        files.configurations.push_back(generationConfigFileName);
    }
    if (listed(listing, ml::SafetensorsCheckpoint::singleFileName)) {
        files.weights = ml::SafetensorsCheckpoint::singleFileName;
    } else if (listed(listing, ml::SafetensorsCheckpoint::indexFileName)) {
        files.weights = ml::SafetensorsCheckpoint::indexFileName;
        files.sharded = true;
        files.configurations.push_back(files.weights);
    } else {
        throw std::runtime_error("The checkpoint repository " + repo_.id + " holds no safetensors checkpoint");
    }
    return files;
}

void CheckpointCompiler::fetch(const std::string& file, const std::function<void(double)>& fraction) const
{
    const hub::HubApi::HubFileDownloader downloader {repo_, hubApi_.localRepoLocation(repo_), file, hubApi_.hfToken,
        hubApi_.endpoint, hubApi_.useBackgroundSession, hubApi_.timeout};
    downloader.download(fraction);
}

void CheckpointCompiler::removeFiles(const std::vector<std::string>& names) const
{
    const auto local = hubApi_.localRepoLocation(repo_);
    std::error_code ignored;
    for (const auto& name : names) {
        fs::remove(local / name, ignored);
    }
}

fs::path CheckpointCompiler::compile(const ProgressCallback& progressCallback) const
{
    Logging::debug("Looking for the checkpoint of " + modelFolder_.filename().string() + " in " + repo_.id);
    const auto listing = hubApi_.getFilenames(repo_);
    const CheckpointFiles files = chooseFiles(listing);

    const fs::path repositoryFolder = modelFolder_.parent_path();
    fs::create_directories(repositoryFolder);
    const platform::DirectoryLock lock(repositoryFolder);
    if (isComplete(modelFolder_)) {
        // Another process compiled it while this one waited.
        return modelFolder_;
    }

    const auto parent = std::make_shared<hub::Progress>(downloadUnits + compileUnits);
    const auto downloading = std::make_shared<hub::Progress>(unitsPerFile);
    const auto compiling = std::make_shared<hub::Progress>(compileSteps);
    parent->addChild(downloading, downloadUnits);
    parent->addChild(compiling, compileUnits);
    // Once per unit gained, however often the transfer reports.
    std::pair<std::int64_t, std::int64_t> reported {-1, -1};
    auto report = [&] {
        const std::pair now {downloading->completedUnitCount(), compiling->completedUnitCount()};
        if (now == reported) {
            return;
        }
        reported = now;
        Logging::debug(parent->description());
        if (progressCallback) {
            progressCallback(*parent);
        }
    };

    Logging::debug("Downloading checkpoint " + repo_.id + "...");
    for (const auto& file : files.configurations) {
        fetch(file);
    }
    const fs::path local = hubApi_.localRepoLocation(repo_);
    // What the hub served that cannot make a model is fetched again next time, not failed on forever.
    auto fetchedAnewNextTime = [&](const std::vector<std::string>& weightFiles) {
        removeFiles(files.configurations);
        removeFiles(weightFiles);
    };
    std::vector<std::string> weightFiles {files.weights};
    if (files.sharded) {
        try {
            weightFiles = ml::SafetensorsCheckpoint::partNames(local / files.weights);
        } catch (const ml::SafetensorsError&) {
            fetchedAnewNextTime({});
            throw;
        }
        for (const auto& part : weightFiles) {
            if (!listed(listing, part)) {
                fetchedAnewNextTime({});
                throw ml::SafetensorsError((local / files.weights).string() + ": names the part \"" + part + "\", which "
                    + repo_.id + " does not hold");
            }
        }
    }
    downloading->setTotalUnitCount(unitsPerFile * static_cast<std::int64_t>(weightFiles.size()));
    for (std::size_t index = 0; index < weightFiles.size(); ++index) {
        const std::int64_t done = unitsPerFile * static_cast<std::int64_t>(index);
        fetch(weightFiles[index], [&](double fraction) {
            downloading->setCompletedUnitCount(std::max(downloading->completedUnitCount(), done + wholeUnits(fraction, unitsPerFile)));
            report();
        });
        downloading->setCompletedUnitCount(done + unitsPerFile);
    }
    report();

    Logging::debug("Compiling " + repo_.id + " into " + modelFolder_.string());
    TemporaryFolder temporary(repositoryFolder / ("." + modelFolder_.filename().string() + ".compiling"));
    try {
        ml::CheckpointConverter::Options options;
        options.storage = ml::MultiArrayDataType::float16;
        const ml::CheckpointConverter converter(local / files.weights, options);
        converter.write(temporary.path(), [&](double fraction) {
            compiling->setCompletedUnitCount(std::max(compiling->completedUnitCount(), wholeUnits(fraction, compileSteps)));
            report();
        });
    } catch (const ml::SafetensorsError&) {
        fetchedAnewNextTime(weightFiles);
        throw;
    } catch (const std::invalid_argument&) {
        fetchedAnewNextTime(weightFiles);
        throw;
    }
    if (!isComplete(temporary.path())) {
        throw ml::ModelError(temporary.path().string() + ": the compiled models do not open");
    }
    temporary.moveTo(modelFolder_);
    // The compiled folder replaces them; the configurations stay for the tokenizer.
    removeFiles(weightFiles);
    removeFiles({files.weights});
    compiling->setCompletedUnitCount(compileSteps);
    report();
    Logging::debug("Compiled model " + modelFolder_.filename().string());
    return modelFolder_;
}

} // namespace auris
