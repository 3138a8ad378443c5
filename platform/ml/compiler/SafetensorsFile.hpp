#pragma once

#include "platform/ml/MappedFile.hpp"
#include "platform/ml/ModelError.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ml {

class SafetensorsError : public ModelError {
public:
    using ModelError::ModelError;
};

// A ".safetensors" checkpoint: an 8-byte little-endian header length, a JSON header naming each
// tensor's element type, shape and byte range, then the raw little-endian data. The file is mapped,
// not read: the header is checked on opening (sizes, ranges inside the file, no two tensors sharing
// bytes), and a tensor's pages are read when it is asked for and let go afterwards.
class SafetensorsFile {
public:
    struct Entry {
        std::string dtype; // as the header writes it
        std::vector<std::int64_t> shape;
        std::uint64_t begin = 0; // byte range within the data section
        std::uint64_t end = 0;
    };

    static constexpr std::uint64_t maximumHeaderSize = 100u << 20;

    explicit SafetensorsFile(const std::filesystem::path& file);

    const std::filesystem::path& path() const { return path_; }
    const std::map<std::string, Entry>& entries() const { return entries_; }
    bool contains(const std::string& name) const { return entries_.contains(name); }
    const Entry& entry(const std::string& name) const;

    // The tensor's values as floats (F32, F16 and BF16 tensors); SafetensorsError otherwise.
    std::vector<float> floats(const std::string& name) const;
    // Whether floats() can read the element type.
    static bool isFloatType(const std::string& dtype);

private:
    std::filesystem::path path_;
    MappedFile mapped_;
    std::uint64_t dataStart_ = 0;
    std::map<std::string, Entry> entries_;
};

} // namespace ml
