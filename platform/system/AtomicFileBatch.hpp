#pragma once

#include "platform/system/AtomicFileWriter.hpp"

#include <exception>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace platform {

// Many files replaced whole or not at all, as AtomicFileWriter replaces one, but with one flush of
// the file system for all of them instead of two flushes per file: writing thousands of small
// files one by one spends most of its time waiting for the disk.
//
// Contents go to hidden temporary files as they are added; `commit` flushes them all, then puts
// each in its place. Until then the destinations are as they were, and a batch dropped without
// `commit` removes its temporary files.
class AtomicFileBatch {
public:
    AtomicFileBatch() = default;
    AtomicFileBatch(const AtomicFileBatch&) = delete;
    AtomicFileBatch& operator=(const AtomicFileBatch&) = delete;

    // Throws std::filesystem::filesystem_error when the temporary file cannot be made or written;
    // the batch goes on without it.
    void add(const std::filesystem::path& destination, std::string_view bytes);
    std::size_t size() const { return writers_.size(); }

    // One entry per added file, in order: null when it is in place, else why not. A failed flush
    // leaves every destination as it was and is every entry's reason.
    std::vector<std::exception_ptr> commit();

private:
    std::vector<std::unique_ptr<AtomicFileWriter>> writers_;
    std::vector<std::filesystem::path> destinations_;
};

} // namespace platform
