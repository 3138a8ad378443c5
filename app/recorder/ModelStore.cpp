#include "app/recorder/ModelStore.hpp"

#include "Auris/Engine/Auris.hpp"
#include "platform/ml/ModelFolder.hpp"

#include <vector>

namespace parlino {

namespace fs = std::filesystem;

namespace {

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

ModelStore::ModelStore(fs::path downloadBase, ConsoleLog log)
    : downloadBase_(std::move(downloadBase))
    , log_(std::move(log))
{
}

bool ModelStore::isValidModelId(const QString& modelId)
{
    if (modelId.isEmpty() || modelId.contains(QLatin1String(".."))) {
        return false;
    }
    for (const QChar c : modelId) {
        const char16_t unit = c.unicode();
        const bool allowed = (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') || (unit >= u'0' && unit <= u'9')
            || unit == u'.' || unit == u'_' || unit == u'-';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

fs::path ModelStore::repositoryFolder() const
{
    return downloadBase_ / "models" / auris::Auris::defaultModelRepo;
}

std::optional<fs::path> ModelStore::modelCacheFolder(const std::string& modelId) const
{
    if (!isValidModelId(QString::fromStdString(modelId))) {
        return std::nullopt;
    }
    std::vector<fs::path> endingWithId;
    std::error_code error;
    for (fs::directory_iterator it(repositoryFolder(), error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code statusError;
        if (!name.starts_with('.') && it->is_directory(statusError) && endsWith(name, modelId)) {
            endingWithId.push_back(it->path());
        }
    }
    if (endingWithId.size() == 1) {
        return endingWithId.front();
    }
    std::optional<fs::path> fromOpenAI;
    for (const fs::path& folder : endingWithId) {
        if (folder.filename().string().find("openai") != std::string::npos) {
            if (fromOpenAI) {
                return std::nullopt;
            }
            fromOpenAI = folder;
        }
    }
    return fromOpenAI;
}

std::optional<fs::path> ModelStore::findModelFolder(const std::string& modelId) const
{
    const auto folder = modelCacheFolder(modelId);
    if (!folder) {
        return std::nullopt;
    }
    const fs::path weights = *folder / encoderBundleName / ml::ModelFolder::weightFileName;
    std::error_code error;
    if (!fs::is_regular_file(weights, error)) {
        return std::nullopt;
    }
    return weights;
}

bool ModelStore::isModelCached(const std::string& modelId) const
{
    const auto folder = modelCacheFolder(modelId);
    std::error_code error;
    const bool cached = folder && fs::is_directory(*folder, error) && !fs::is_empty(*folder, error) && !error;
    const fs::path shown = folder.value_or(repositoryFolder() / modelId);
    print(cached ? "📦 Model cache found: " + shown.string() : "💾 Model cache not found: " + shown.string());
    return cached;
}

bool ModelStore::isModelComplete(const std::string& modelId) const
{
    const auto folder = modelCacheFolder(modelId);
    std::error_code error;
    return folder && (fs::exists(*folder / encoderPackageName, error) || fs::exists(*folder / encoderBundleName, error));
}

std::optional<std::uint64_t> ModelStore::modelFolderSize(const fs::path& url)
{
    std::error_code error;
    const auto size = fs::file_size(url, error);
    if (error) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size);
}

std::optional<std::uint64_t> ModelStore::expectedWeightBytes(const std::string& modelId) const
{
    const auto folder = modelCacheFolder(modelId);
    if (!folder) {
        return std::nullopt;
    }
    try {
        return ml::ModelFolder::declaredWeightBytes(*folder / encoderBundleName);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool ModelStore::deleteModelCache(const std::string& modelId) const
{
    const auto folder = modelCacheFolder(modelId);
    if (!folder) {
        return false;
    }
    std::error_code error;
    fs::remove_all(*folder, error);
    if (error) {
        print("❌ Failed to delete: " + error.message());
        return false;
    }
    print("✅ Deleted model cache: " + folder->filename().string());
    return true;
}

void ModelStore::print(const std::string& line) const
{
    if (log_) {
        log_(line);
    }
}

} // namespace parlino
