#include "platform/ml/compiler/SafetensorsFile.hpp"

#include "platform/ml/Float16.hpp"
#include "platform/system/BoundedJson.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

static_assert(std::endian::native == std::endian::little, "safetensors data is little-endian");

namespace ml {

namespace {

std::size_t elementSizeOf(const std::string& dtype)
{
    if (dtype == "F64" || dtype == "I64" || dtype == "U64") return 8;
    if (dtype == "F32" || dtype == "I32" || dtype == "U32") return 4;
    if (dtype == "F16" || dtype == "BF16" || dtype == "I16" || dtype == "U16") return 2;
    if (dtype == "I8" || dtype == "U8" || dtype == "BOOL" || dtype == "F8_E4M3" || dtype == "F8_E5M2") return 1;
    return 0;
}

std::uint64_t littleEndian64(const unsigned char* bytes)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

} // namespace

SafetensorsFile::SafetensorsFile(const std::filesystem::path& file)
    : path_(file)
{
    auto fail = [&](const std::string& what) -> void { throw SafetensorsError(file.string() + ": " + what); };
    try {
        mapped_ = MappedFile::open(file);
    } catch (const ModelError& error) {
        throw SafetensorsError(error.what());
    }
    const std::uint64_t fileSize = mapped_.size();
    if (fileSize < 8) {
        fail("is too short for a safetensors header");
    }
    const std::uint64_t headerSize = littleEndian64(mapped_.data());
    if (headerSize > maximumHeaderSize) {
        fail("has a header of " + std::to_string(headerSize) + " bytes, over the cap of " + std::to_string(maximumHeaderSize)
            + " bytes");
    }
    if (headerSize > fileSize - 8) {
        fail("has a header length past the end of the file");
    }
    dataStart_ = 8 + headerSize;
    const std::uint64_t dataSize = fileSize - dataStart_;

    nlohmann::json root;
    try {
        const auto* header = reinterpret_cast<const char*>(mapped_.data() + 8);
        // A name given twice would leave one of the two tensors unseen.
        root = platform::BoundedJson::parse(std::string_view(header, headerSize),
            {.duplicateKeys = platform::BoundedJson::DuplicateKeys::refused});
    } catch (const platform::BoundedJsonError& error) {
        fail(std::string("has a header that ") + error.what());
    }
    if (!root.is_object()) {
        fail("has a header that is not a JSON object");
    }
    for (const auto& [name, item] : root.items()) {
        if (name == "__metadata__") {
            continue;
        }
        const std::string what = "tensor \"" + name + "\"";
        if (!item.is_object() || !item.contains("dtype") || !item["dtype"].is_string() || !item.contains("shape")
            || !item["shape"].is_array() || !item.contains("data_offsets") || !item["data_offsets"].is_array()
            || item["data_offsets"].size() != 2 || !item["data_offsets"][0].is_number_unsigned()
            || !item["data_offsets"][1].is_number_unsigned()) {
            fail(what + " has a malformed header entry");
        }
        Entry entry;
        entry.dtype = item["dtype"].get<std::string>();
        const std::size_t size = elementSizeOf(entry.dtype);
        if (size == 0) {
            fail(what + " has the unknown element type \"" + entry.dtype + "\"");
        }
        std::uint64_t count = 1;
        for (const auto& dimension : item["shape"]) {
            if (!dimension.is_number_unsigned()) {
                fail(what + " has an invalid shape");
            }
            const auto value = dimension.get<std::uint64_t>();
            if (value != 0 && count > dataSize / value) {
                fail(what + " is larger than the file");
            }
            count *= value;
            entry.shape.push_back(static_cast<std::int64_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::int64_t>::max())));
        }
        entry.begin = item["data_offsets"][0].get<std::uint64_t>();
        entry.end = item["data_offsets"][1].get<std::uint64_t>();
        if (entry.end < entry.begin || entry.end > dataSize) {
            fail(what + " lies past the end of the file (truncated?)");
        }
        if (count > dataSize / size || entry.end - entry.begin != count * size) {
            fail(what + " has a byte range that does not match its shape");
        }
        entries_.emplace(name, std::move(entry));
    }

    // Two tensors sharing bytes would make one write through the other's values.
    std::vector<std::pair<const std::string*, const Entry*>> byOffset;
    for (const auto& [name, entry] : entries_) {
        if (entry.end > entry.begin) {
            byOffset.emplace_back(&name, &entry);
        }
    }
    std::sort(byOffset.begin(), byOffset.end(), [](const auto& a, const auto& b) { return a.second->begin < b.second->begin; });
    for (std::size_t i = 1; i < byOffset.size(); ++i) {
        if (byOffset[i].second->begin < byOffset[i - 1].second->end) {
            fail("tensors \"" + *byOffset[i - 1].first + "\" and \"" + *byOffset[i].first + "\" overlap");
        }
    }
}

const SafetensorsFile::Entry& SafetensorsFile::entry(const std::string& name) const
{
    auto it = entries_.find(name);
    if (it == entries_.end()) {
        throw SafetensorsError(path_.string() + ": tensor \"" + name + "\" is missing");
    }
    return it->second;
}

bool SafetensorsFile::isFloatType(const std::string& dtype)
{
    return dtype == "F32" || dtype == "F16" || dtype == "BF16";
}

std::vector<float> SafetensorsFile::floats(const std::string& name) const
{
    const Entry& found = entry(name);
    if (!isFloatType(found.dtype)) {
        throw SafetensorsError(path_.string() + ": tensor \"" + name + "\" is " + found.dtype + ", not F32, F16 or BF16");
    }
    const std::size_t size = elementSizeOf(found.dtype);
    const std::size_t offset = static_cast<std::size_t>(dataStart_ + found.begin);
    const std::size_t bytes = static_cast<std::size_t>(found.end - found.begin);
    const unsigned char* raw = mapped_.data() + offset;
    const std::size_t count = bytes / size;
    std::vector<float> values(count);
    if (found.dtype == "F32") {
        std::memcpy(values.data(), raw, bytes);
    } else if (found.dtype == "F16") {
        for (std::size_t i = 0; i < count; ++i) {
            values[i] = Float16::toFloat(static_cast<std::uint16_t>(raw[2 * i] | raw[2 * i + 1] << 8));
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            values[i] = std::bit_cast<float>(static_cast<std::uint32_t>(raw[2 * i] | raw[2 * i + 1] << 8) << 16);
        }
    }
    mapped_.release(offset, bytes);
    return values;
}

} // namespace ml
