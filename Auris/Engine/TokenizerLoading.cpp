#include "Auris/Engine/TokenizerLoading.hpp"

#include "Auris/Engine/ModelSupport.hpp"
#include "Auris/Text/WhisperTokenizerWrapper.hpp"
#include "Auris/Utilities/Logging.hpp"
#include "Hub/LanguageModelConfigurationFromHub.hpp"
#include "Tokenizers/AutoTokenizer.hpp"
#include "Tokenizers/PreTrainedTokenizer.hpp"
#include "platform/net/NetError.hpp"

#include <stdlib.h>

#include <array>
#include <exception>
#include <string>
#include <system_error>

namespace auris {

namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 3> configurationFiles {"config.json", "tokenizer_config.json", "tokenizer.json"};

// The local copy's tokenizer, or none (with the reason logged and kept in `rejection`) when it
// cannot be built.
std::shared_ptr<const tokenizers::Tokenizer> loadLocalTokenizer(const fs::path& folder, std::string& rejection)
{
    try {
        const hub::LanguageModelConfigurationFromHub configuration(folder);
        const auto tokenizerConfig = configuration.tokenizerConfig();
        if (!tokenizerConfig) {
            rejection = "Tokenizer configuration not found in local config";
            Logging::debug(rejection);
            return nullptr;
        }
        auto tokenizer = std::make_shared<tokenizers::PreTrainedTokenizer>(*tokenizerConfig, configuration.tokenizerData());
        Logging::debug("Loading tokenizer from local folder");
        return tokenizer;
    } catch (const std::exception& error) {
        rejection = error.what();
        Logging::debug("Error loading local tokenizer: " + rejection);
        return nullptr;
    }
}

// The hub's failure, still of its own type, now also saying why the local copy was not used:
// otherwise a broken local file reads as a network problem.
[[noreturn]] void rethrowWithRejection(const fs::path& folder, const std::string& rejection)
{
    const std::string sentence = "The local tokenizer in " + folder.string() + " was not used: " + rejection;
    try {
        throw;
    } catch (const platform::NetError& error) {
        throw error.withContext(sentence);
    } catch (const hub::HubClientError& error) {
        throw error.withContext(sentence);
    }
}

// A uniquely named hidden folder inside a parent, removed with its contents at the end.
class StagingFolder {
public:
    explicit StagingFolder(const fs::path& parent)
    {
        std::string pattern = (parent / ".refresh-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~StagingFolder()
    {
        if (!path_.empty()) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    bool created() const { return !path_.empty(); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The hub road skips files already on disk, so it would read a rejected local copy again. The
// repository is fetched afresh beside it instead, and its files take the local copy's place only
// once they have built a tokenizer; without the hub the local copy stays as it was.
std::shared_ptr<const tokenizers::Tokenizer> fetchReplacingLocalCopy(
    const std::string& repoId, const hub::HubApi& hubApi, const fs::path& localFolder)
{
    const StagingFolder staging(localFolder);
    if (!staging.created()) {
        return tokenizers::AutoTokenizer::fromPretrained(repoId, hubApi);
    }
    hub::HubApi stagedApi = hubApi;
    stagedApi.downloadBase = staging.path();
    auto tokenizer = tokenizers::AutoTokenizer::fromPretrained(repoId, stagedApi);

    const auto fetched = stagedApi.localRepoLocation(hub::Repo(repoId, hub::RepoType::models));
    for (const char* name : configurationFiles) {
        // A file that cannot be moved only sends the next load to the hub again.
        std::error_code ignored;
        if (fs::exists(fetched / name, ignored)) {
            fs::rename(fetched / name, localFolder / name, ignored);
        } else {
            fs::remove(localFolder / name, ignored);
        }
    }
    return tokenizer;
}

} // namespace

std::shared_ptr<const WhisperTokenizer> loadTokenizer(ModelVariant variant, const hub::HubApi& hubApi)
{
    const std::string repoId = tokenizerRepositoryName(variant);
    const auto localFolder = hubApi.localRepoLocation(hub::Repo(repoId, hub::RepoType::models));
    std::error_code ignored;
    const bool hasLocalCopy = fs::exists(localFolder / "tokenizer.json", ignored);
    if (!hasLocalCopy) {
        Logging::debug("Loading tokenizer from Hub");
        return std::make_shared<WhisperTokenizerWrapper>(tokenizers::AutoTokenizer::fromPretrained(repoId, hubApi));
    }
    std::string rejection;
    if (auto tokenizer = loadLocalTokenizer(localFolder, rejection)) {
        return std::make_shared<WhisperTokenizerWrapper>(std::move(tokenizer));
    }
    Logging::debug("Loading tokenizer from Hub");
    try {
        return std::make_shared<WhisperTokenizerWrapper>(fetchReplacingLocalCopy(repoId, hubApi, localFolder));
    } catch (const platform::NetError&) {
        rethrowWithRejection(localFolder, rejection);
    } catch (const hub::HubClientError&) {
        rethrowWithRejection(localFolder, rejection);
    }
}

std::shared_ptr<const WhisperTokenizer> loadTokenizer(
    ModelVariant variant, const std::optional<fs::path>& tokenizerFolder, bool useBackgroundSession)
{
    const hub::HubApi hubApi(tokenizerFolder, std::nullopt, hub::HubApi::defaultEndpoint(), useBackgroundSession);
    return loadTokenizer(variant, hubApi);
}

} // namespace auris
