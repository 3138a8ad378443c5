#pragma once

#include "platform/system/FileDescriptor.hpp"

#include <filesystem>
#include <string_view>

namespace platform {

// A file replaced whole or not at all. The new contents go to a hidden temporary file beside the
// destination (".<name>.<16 hex digits>.tmp"), reach the disk, and only then take the destination's
// name, so a crash at any moment leaves the old file or the new one, never a part of either. The
// temporary file is readable by its owner alone; the finished file gets the old file's mode, or
// for a new file the mode the umask gives.
//
// All failures throw std::filesystem::filesystem_error.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path destination);
    // Without `commit`, the temporary file is removed and the destination stays as it was.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::string_view bytes);
    // Flushes the contents to the disk and puts them in the destination's place.
    void commit();
    // For AtomicFileBatch, which flushes the whole file system once for many files: ends the
    // contents without flushing them; `commit` then only puts them in place, and the folder is
    // left for the batch to flush.
    void closeUnflushed();

    const std::filesystem::path& temporaryPath() const { return temporary_; }
    // Whether a file name has the form of the temporary files, such as one a crash left behind.
    static bool isTemporaryName(std::string_view name);

    static void writeFile(const std::filesystem::path& destination, std::string_view bytes);
    // The source is read without following a symbolic link; the destination changes only once the
    // copy is complete.
    static void copyFile(const std::filesystem::path& source, const std::filesystem::path& destination);
    // Makes the names given in the folder last (failures ignored: the files themselves are on disk).
    static void flushFolder(const std::filesystem::path& folder);

private:
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    FileDescriptor file_ {-1};
    bool committed_ = false;
    bool unflushed_ = false;
};

} // namespace platform
