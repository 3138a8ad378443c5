#include "Hub/RepositoryPath.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace hub {

UnsafePathError::UnsafePathError(const std::string& path)
    // Quoted as JSON, so control characters cannot garble a log line.
    : std::runtime_error("Refusing the unsafe repository path "
        + nlohmann::json(path).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
{
}

bool isSafeRelativePath(std::string_view path)
{
    if (path.empty() || path.front() == '/') {
        return false;
    }
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            return false;
        }
    }
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, end - start);
        if (segment.empty() || segment == "." || segment == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

void requireSafeRelativePath(std::string_view path)
{
    if (!isSafeRelativePath(path)) {
        throw UnsafePathError(std::string(path));
    }
}

bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    std::error_code error;
    auto base = std::filesystem::weakly_canonical(folder, error);
    if (error) {
        return false;
    }
    if (base.has_relative_path() && base.filename().empty()) {
        base = base.parent_path();
    }
    const auto candidate = std::filesystem::weakly_canonical(path, error);
    if (error) {
        return false;
    }
    const auto [mismatch, ignored] = std::mismatch(base.begin(), base.end(), candidate.begin(), candidate.end());
    return mismatch == base.end() && candidate != base;
}

} // namespace hub
