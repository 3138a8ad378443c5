#include "platform/system/AtomicFileBatch.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace platform {

void AtomicFileBatch::add(const std::filesystem::path& destination, std::string_view bytes)
{
    auto writer = std::make_unique<AtomicFileWriter>(destination);
    writer->write(bytes);
    // Closed now: a batch of thousands would otherwise run out of descriptors.
    writer->closeUnflushed();
    writers_.push_back(std::move(writer));
    destinations_.push_back(destination);
}

std::vector<std::exception_ptr> AtomicFileBatch::commit()
{
    std::vector<std::exception_ptr> results(writers_.size());
    if (writers_.empty()) {
        return results;
    }
    // syncfs flushes the file system holding the descriptor; the temporary files lie beside their
    // destinations, so one flush per folder's file system covers them.
    std::vector<std::filesystem::path> folders;
    for (const std::filesystem::path& destination : destinations_) {
        std::filesystem::path folder = destination.parent_path();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(std::move(folder));
        }
    }
    for (const std::filesystem::path& folder : folders) {
        const FileDescriptor handle(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (handle.get() < 0 || ::syncfs(handle.get()) != 0) {
            const auto failure = std::make_exception_ptr(std::filesystem::filesystem_error(
                "Cannot write the files to the disk", folder, std::error_code(errno, std::generic_category())));
            std::fill(results.begin(), results.end(), failure);
            return results;
        }
    }
    for (std::size_t index = 0; index < writers_.size(); ++index) {
        try {
            writers_[index]->commit();
        } catch (...) {
            results[index] = std::current_exception();
        }
    }
    for (const std::filesystem::path& folder : folders) {
        AtomicFileWriter::flushFolder(folder);
    }
    return results;
}

} // namespace platform
