#include "Auris/Engine/Auris.hpp"

#include "Auris/Core/WhisperError.hpp"
#include "Auris/Engine/CheckpointCompiler.hpp"
#include "Auris/Models/WhisperMLModel.hpp"
#include "Auris/Text/TextDecoderContextPrefill.hpp"
#include "Hub/HubApi.hpp"
#include "platform/net/NetError.hpp"
#include "platform/system/NumberText.hpp"

#include <algorithm>
#include <chrono>
#include <set>
#include <system_error>

namespace auris {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string repoDescription(const hub::Repo& repo)
{
    return "Repo(id: " + quoted(repo.id) + ", type: " + hub::rawValue(repo.type) + ")";
}

std::string firstPathComponent(const std::string& path) { return path.substr(0, path.find('/')); }

std::set<std::string> folderNames(const std::vector<std::string>& paths)
{
    std::set<std::string> names;
    for (const auto& path : paths) {
        names.insert(firstPathComponent(path));
    }
    return names;
}

// The name as a glob that matches only itself.
std::string escapedGlob(const std::string& name)
{
    std::string escaped;
    for (const char c : name) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

std::string noSingleFolderMessage(const std::string& pattern, bool nothingMatched)
{
    return (nothingMatched ? "No models found matching " : "Multiple models found matching ") + quoted(pattern);
}

// Every file below the folder as a relative path with "/" separators.
std::vector<std::string> localFiles(const std::filesystem::path& folder)
{
    std::vector<std::string> files;
    std::error_code error;
    std::filesystem::recursive_directory_iterator it(folder, error);
    for (const std::filesystem::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error)) {
            files.push_back(it->path().lexically_relative(folder).generic_string());
        }
    }
    return files;
}

// The one folder of an earlier download that the patterns pick, tried in order.
std::optional<std::string> downloadedFolder(const std::filesystem::path& localRepo, const std::vector<std::string>& patterns)
{
    const auto files = localFiles(localRepo);
    for (const auto& pattern : patterns) {
        const auto names = folderNames(hub::matching(files, pattern));
        if (names.size() == 1) {
            return *names.begin();
        }
    }
    return std::nullopt;
}

// The component as a model wrapper, when it is one.
template<typename Component>
std::shared_ptr<WhisperMLModel> asModel(const std::shared_ptr<Component>& component)
{
    return std::dynamic_pointer_cast<WhisperMLModel>(component);
}

} // namespace

std::filesystem::path Auris::download(const std::string& variant, const std::optional<std::filesystem::path>& downloadBase,
    bool useBackgroundSession, const std::string& from, const DownloadProgressCallback& progressCallback,
    std::stop_token stopToken)
{
    hub::HubApi hubApi(downloadBase, std::nullopt, hub::HubApi::defaultEndpoint(), useBackgroundSession);
    hubApi.stopToken = stopToken;
    const hub::Repo repo(from, hub::RepoType::models);
    const std::string pattern = "*" + variant + "/*";
    const std::string fallbackPattern = "*openai*" + variant + "/*";

    // A model the repository does not offer is compiled from its original checkpoint instead.
    const auto checkpoint = checkpointRepositoryName(variant);
    const auto compiledFolder = checkpoint
        ? std::optional(hubApi.localRepoLocation(repo) / compiledModelFolderName(*checkpoint)) : std::nullopt;
    if (compiledFolder && CheckpointCompiler::isComplete(*compiledFolder)) {
        Logging::debug("Using the model at " + compiledFolder->string());
        return *compiledFolder;
    }
    // Compiles the checkpoint, or, when the hub has none for it either, fails as the search did.
    auto compileInstead = [&](const std::exception_ptr& searchFailure) -> std::filesystem::path {
        try {
            return CheckpointCompiler(hubApi, *checkpoint, *compiledFolder).compile(progressCallback);
        } catch (const hub::HubClientError& error) {
            if (error.kind() == hub::HubClientError::Kind::authorizationRequired) {
                std::rethrow_exception(searchFailure);
            }
            Logging::debug(error.what());
            throw;
        } catch (const std::exception& error) {
            Logging::debug(error.what());
            throw;
        }
    };

    std::vector<std::string> listed;
    try {
        Logging::debug("Searching for models matching " + quoted(pattern) + " in " + repoDescription(repo));
        listed = hubApi.getFilenames(repo, pattern);
    } catch (const platform::NetError& error) {
        // Without the hub, a folder downloaded before still serves; a cancelled download stays cancelled.
        if (error.code() == platform::NetError::Code::cancelled) {
            throw;
        }
        if (auto folder = downloadedFolder(hubApi.localRepoLocation(repo), {pattern, fallbackPattern})) {
            const auto local = hubApi.localRepoLocation(repo) / *folder;
            Logging::debug("Hub unreachable (" + std::string(error.what()) + "), using the downloaded model at "
                + local.string());
            return local;
        }
        Logging::debug(error.what());
        throw;
    } catch (const hub::HubClientError& error) {
        Logging::debug(error.what());
        // The hub answers so for a repository that does not exist.
        if (checkpoint && error.kind() == hub::HubClientError::Kind::authorizationRequired) {
            return compileInstead(std::current_exception());
        }
        throw;
    } catch (const std::exception& error) {
        Logging::debug(error.what());
        throw;
    }

    std::exception_ptr searchFailure;
    try {
        auto folders = folderNames(listed);
        std::string snapshotPattern = pattern;
        if (folders.size() != 1) {
            Logging::debug(noSingleFolderMessage(pattern, folders.empty()));
            Logging::debug("Searching for models matching " + quoted(fallbackPattern) + " in " + repoDescription(repo));
            const auto fallbackFolders = folderNames(hubApi.getFilenames(repo, fallbackPattern));
            if (fallbackFolders.size() != 1) {
                throw WhisperError::modelsUnavailable(noSingleFolderMessage(pattern, folders.empty()));
            }
            folders = fallbackFolders;
            // Only the chosen folder, not every folder the first pattern matched.
            snapshotPattern = escapedGlob(*folders.begin()) + "/*";
        }
        const std::string folder = *folders.begin();
        Logging::debug("Downloading model " + folder + "...");
        const auto local = hubApi.snapshot(repo, snapshotPattern, [&](const hub::Progress& progress) {
            Logging::debug(progress.description());
            if (progressCallback) {
                progressCallback(progress);
            }
        });
        return local / folder;
    } catch (const std::exception& error) {
        Logging::debug(error.what());
        if (!checkpoint || !listed.empty()) {
            throw;
        }
        searchFailure = std::current_exception();
    }
    return compileInstead(searchFailure);
}

std::vector<std::string> Auris::fetchAvailableModels(const std::string& from, const std::vector<std::string>& matching)
{
    const hub::HubApi hubApi(std::nullopt, std::nullopt, hub::HubApi::defaultEndpoint(), false);
    return formatModelFiles(hubApi.getFilenames(hub::Repo(from, hub::RepoType::models), matching));
}

std::vector<std::string> Auris::formatModelFiles(const std::vector<std::string>& modelFiles)
{
    std::vector<std::string> sizes;
    std::vector<std::string> tokens;
    for (const ModelVariant variant : allModelVariants) {
        const std::string size = description(variant);
        sizes.push_back(size);
        tokens.push_back(size.find("large") == std::string::npos ? size + "/" : size);
    }

    std::set<std::string> kept;
    for (const auto& file : modelFiles) {
        const std::string folder = firstPathComponent(file) + "/";
        if (std::any_of(tokens.begin(), tokens.end(), [&](const std::string& token) { return folder.find(token) != std::string::npos; })) {
            kept.insert(folder.substr(0, folder.size() - 1));
        }
    }

    auto sizeKey = [&](const std::string& name) {
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            if (name.find(sizes[i]) != std::string::npos) {
                return i;
            }
        }
        return sizes.size();
    };
    std::vector<std::string> names(kept.begin(), kept.end());
    std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return sizeKey(a) < sizeKey(b);
    });
    return names;
}

std::size_t Auris::decoderBatchCapacity() const
{
    const auto decoder = asModel(textDecoder());
    const auto loaded = decoder ? decoder->model() : nullptr;
    // A decoder that steps every window alone keeps no state per window that others push out.
    return loaded && loaded->batchCapacity() > 1 ? loaded->batchCapacity() : SIZE_MAX;
}

void Auris::loadModels(bool prewarmMode)
{
    std::lock_guard load(loadMutex_);
    loadModelsHoldingLoadLock(prewarmMode);
}

void Auris::ensureModelsLoaded()
{
    if (modelState() == ModelState::loaded) {
        return;
    }
    std::lock_guard load(loadMutex_);
    // Another caller may have finished the load while this one waited for it.
    if (modelState() != ModelState::loaded) {
        loadModelsHoldingLoadLock(false);
    }
}

void Auris::loadModelsHoldingLoadLock(bool prewarmMode)
{
    setModelState(prewarmMode ? ModelState::prewarming : ModelState::loading);
    const auto start = Clock::now();

    const auto folder = modelFolder();
    if (!folder) {
        throw WhisperError::modelsUnavailable("Model folder is not set.");
    }
    Logging::debug("Loading models from " + folder->string() + " with prewarmMode: " + (prewarmMode ? "true" : "false"));

    const auto melPath = *folder / melBundleName;
    const auto encoderPath = *folder / audioEncoderBundleName;
    const auto decoderPath = *folder / textDecoderBundleName;
    const auto prefillPath = *folder / prefillBundleName;
    for (const auto& path : {melPath, encoderPath, decoderPath}) {
        std::error_code error;
        if (!std::filesystem::exists(path, error)) {
            throw WhisperError::modelsUnavailable("Model file not found at " + path.string());
        }
    }

    const auto compute = modelCompute();
    const auto extractor = featureExtractor();
    const auto encoder = audioEncoder();
    const auto decoder = textDecoder();

    if (auto model = asModel(extractor)) {
        Logging::debug("Loading feature extractor");
        model->setComputeGate(computeGate_);
        model->loadModel(melPath, compute.melCompute, prewarmMode);
        Logging::debug("Loaded feature extractor");
    }
    if (auto model = asModel(encoder)) {
        Logging::debug("Loading audio encoder");
        model->setComputeGate(computeGate_);
        model->loadModel(encoderPath, compute.audioEncoderCompute, prewarmMode);
        Logging::debug("Loaded audio encoder");
    }
    if (auto model = asModel(decoder)) {
        Logging::debug("Loading text decoder");
        model->setComputeGate(computeGate_);
        model->loadModel(decoderPath, compute.textDecoderCompute, prewarmMode);
        Logging::debug("Loaded text decoder");
    }
    std::error_code error;
    if (std::filesystem::exists(prefillPath, error)) {
        Logging::debug("Loading text decoder prefill data");
        auto prefill = std::make_shared<TextDecoderContextPrefill>();
        decoder->setPrefillData(prefill);
        prefill->loadModel(prefillPath, compute.prefillCompute, prewarmMode);
        Logging::debug("Loaded text decoder prefill data");
    }

    if (prewarmMode) {
        std::lock_guard lock(mutex_);
        modelState_ = ModelState::prewarmed;
        currentTimings_.modelLoading = secondsSince(start);
        return;
    }

    const auto logitsSize = decoder->logitsSize();
    const auto embedSize = encoder->embedSize();
    if (!logitsSize || !embedSize) {
        throw WhisperError::tokenizerUnavailable();
    }
    decoder->setIsModelMultilingual(*logitsSize != englishOnlyLogitsSize);
    const ModelVariant variant = detectModelVariant(*logitsSize, *embedSize);
    {
        std::lock_guard lock(mutex_);
        modelVariant_ = variant;
    }

    Logging::debug("Loading tokenizer for " + description(variant));
    auto loadedTokenizer = tokenizerLoader_(variant, tokenizerFolder(), useBackgroundDownloadSession_);
    if (!loadedTokenizer) {
        throw WhisperError::tokenizerUnavailable();
    }
    setTokenizer(loadedTokenizer);
    decoder->setTokenizer(loadedTokenizer);
    Logging::debug("Loaded tokenizer");

    {
        std::lock_guard lock(mutex_);
        modelState_ = ModelState::loaded;
        currentTimings_.modelLoading = secondsSince(start);
    }
    Logging::info("Loaded models for whisper size: " + description(variant));
}

void Auris::unloadModels()
{
    std::lock_guard load(loadMutex_);
    setModelState(ModelState::unloading);
    if (auto model = asModel(featureExtractor())) {
        model->unloadModel();
    }
    if (auto model = asModel(audioEncoder())) {
        model->unloadModel();
    }
    if (auto model = asModel(textDecoder())) {
        model->unloadModel();
    }
    setModelState(ModelState::unloaded);
    Logging::info("Unloaded all models");
}

} // namespace auris
