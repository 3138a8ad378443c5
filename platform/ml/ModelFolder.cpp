#include "platform/ml/ModelFolder.hpp"

#include "platform/ml/MappedFile.hpp"
#include "platform/ml/ModelError.hpp"
#include "platform/system/BoundedJson.hpp"
#include "platform/system/RegularFile.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <stdexcept>
#include <system_error>

static_assert(std::endian::native == std::endian::little, "weight blobs are little-endian");

namespace ml {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

[[noreturn]] void fail(const fs::path& file, const std::string& what)
{
    throw ModelError(file.string() + ": " + what);
}

std::vector<int> parseShape(const json& value, const fs::path& file, const std::string& what)
{
    if (!value.is_array()) {
        fail(file, what + " has no shape list");
    }
    std::vector<int> shape;
    for (const auto& dimension : value) {
        const auto size = platform::BoundedJson::intOf(dimension);
        if (!size || *size < 0) {
            fail(file, what + " has an invalid dimension in its shape");
        }
        shape.push_back(*size);
    }
    return shape;
}

std::pair<int, int> parseSizeRange(const json& value, const fs::path& file, const std::string& what)
{
    if (value.is_array() && value.size() == 2) {
        const auto low = platform::BoundedJson::intOf(value[0]);
        const auto high = platform::BoundedJson::intOf(value[1]);
        if (low && high) {
            return {*low, *high};
        }
    }
    fail(file, what + " has a malformed size range");
}

MultiArrayDataType parseDataType(const json& value, const fs::path& file, const std::string& what)
{
    if (!value.is_string()) {
        fail(file, what + " has no element type");
    }
    auto type = dataTypeFromName(value.get<std::string>());
    if (!type) {
        fail(file, what + " has the unknown element type \"" + value.get<std::string>() + "\"");
    }
    return *type;
}

std::string requireString(const json& object, const char* key, const fs::path& file, const std::string& what)
{
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        fail(file, what + " has no \"" + key + "\" text");
    }
    return it->get<std::string>();
}

std::vector<FeatureDescription> parseFeatures(const json& root, const char* key, const fs::path& file)
{
    auto it = root.find(key);
    if (it == root.end() || !it->is_array()) {
        fail(file, std::string("has no \"") + key + "\" list");
    }
    std::vector<FeatureDescription> features;
    std::set<std::string> names;
    for (const auto& item : *it) {
        if (!item.is_object()) {
            fail(file, std::string("an entry of \"") + key + "\" is not an object");
        }
        FeatureDescription feature;
        feature.name = requireString(item, "name", file, std::string("an entry of \"") + key + "\"");
        const std::string what = std::string(key == std::string("inputs") ? "input" : "output") + " \"" + feature.name + "\"";
        // A second feature of one name would never be fed or read: lookups find the first.
        if (!names.insert(feature.name).second) {
            fail(file, what + " is listed twice");
        }
        feature.dataType = parseDataType(item.value("dataType", json()), file, what);
        feature.shape = parseShape(item.value("shape", json()), file, what);
        feature.isOptional = item.value("optional", false);
        if (auto constraint = item.find("shapeConstraint"); constraint != item.end()) {
            if (!constraint->is_object()) {
                fail(file, what + " has a malformed shape constraint");
            }
            ShapeConstraint shapeConstraint;
            const std::string type = constraint->value("type", "");
            if (type == "unspecified") {
                shapeConstraint.type = ShapeConstraint::Type::unspecified;
            } else if (type == "enumerated") {
                shapeConstraint.type = ShapeConstraint::Type::enumerated;
                for (const auto& shape : constraint->value("shapes", json::array())) {
                    shapeConstraint.enumeratedShapes.push_back(parseShape(shape, file, what));
                }
            } else if (type == "range") {
                shapeConstraint.type = ShapeConstraint::Type::range;
                for (const auto& range : constraint->value("ranges", json::array())) {
                    shapeConstraint.sizeRangeForDimension.push_back(parseSizeRange(range, file, what));
                }
            } else {
                fail(file, what + " has an unknown shape constraint \"" + type + "\"");
            }
            feature.shapeConstraint = std::move(shapeConstraint);
        }
        features.push_back(std::move(feature));
    }
    return features;
}

// Where a tensor lies in the weights, end excluded.
struct StoredRange {
    std::uint64_t begin;
    std::uint64_t end;
    std::string name;
};

// The bytes a tensor of this shape takes; none when they cannot fit in a blob of `blobSize` bytes.
std::optional<std::uint64_t> storedBytes(const std::vector<int>& shape, std::size_t elementBytes, std::uint64_t blobSize)
{
    if (std::find(shape.begin(), shape.end(), 0) != shape.end()) {
        return 0;
    }
    std::uint64_t bytes = elementBytes;
    for (int dimension : shape) {
        if (bytes > blobSize / static_cast<std::uint64_t>(dimension)) {
            return std::nullopt;
        }
        bytes *= static_cast<std::uint64_t>(dimension);
    }
    return bytes;
}

json readDescription(const fs::path& file)
{
    std::string text;
    try {
        text = platform::RegularFile::read(file, ModelFolder::maximumDescriptionSize);
    } catch (const fs::filesystem_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory) {
            fail(file, "file is missing");
        }
        if (error.code() == std::errc::file_too_large) {
            fail(file, "is larger than the " + std::to_string(ModelFolder::maximumDescriptionSize) + " bytes a description may hold");
        }
        if (error.code() == std::errc::invalid_argument) {
            fail(file, "is not a regular file");
        }
        fail(file, "cannot be read (" + error.code().message() + ")");
    }
    try {
        return platform::BoundedJson::parse(text, {.duplicateKeys = platform::BoundedJson::DuplicateKeys::refused});
    } catch (const platform::BoundedJsonError& error) {
        fail(file, error.what());
    }
}

} // namespace

std::uint64_t ModelFolder::declaredWeightBytes(const fs::path& folder)
{
    const fs::path descriptionFile = folder / descriptionFileName;
    const json root = readDescription(descriptionFile);
    const json tensors = root.is_object() ? root.value("tensors", json::array()) : json();
    if (!tensors.is_array()) {
        fail(descriptionFile, "\"tensors\" is not a list");
    }
    constexpr auto limit = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t end = 0;
    for (const auto& entry : tensors) {
        if (!entry.is_object() || !entry.contains("offset") || !entry["offset"].is_number_unsigned()) {
            fail(descriptionFile, "a tensor has no offset");
        }
        const std::string what = "a tensor";
        const MultiArrayDataType type = parseDataType(entry.value("dataType", json()), descriptionFile, what);
        std::uint64_t bytes = elementSize(type);
        for (int dimension : parseShape(entry.value("shape", json()), descriptionFile, what)) {
            const auto size = static_cast<std::uint64_t>(dimension);
            bytes = size != 0 && bytes > limit / size ? limit : bytes * size;
        }
        const auto offset = entry["offset"].get<std::uint64_t>();
        end = std::max(end, bytes > limit - offset ? limit : offset + bytes);
    }
    return end;
}

ModelFolder ModelFolder::open(const fs::path& folder)
{
    ModelFolder model;
    model.path_ = folder;
    if (!fs::is_directory(folder)) {
        throw ModelError(folder.string() + ": model folder is missing");
    }
    const fs::path descriptionFile = folder / descriptionFileName;
    const json root = readDescription(descriptionFile);
    if (!root.is_object()) {
        fail(descriptionFile, "is not a JSON object");
    }
    if (root.value("format", "") != formatName) {
        fail(descriptionFile, std::string("is not a \"") + formatName + "\" description");
    }
    if (!root.contains("formatVersion") || platform::BoundedJson::intOf(root["formatVersion"]) != formatVersion) {
        fail(descriptionFile, "has an unsupported format version");
    }
    model.program_ = requireString(root, "program", descriptionFile, "the description");
    model.parameters_ = root.value("parameters", json::object());
    if (!model.parameters_.is_object()) {
        fail(descriptionFile, "\"parameters\" is not an object");
    }
    model.description_.inputs = parseFeatures(root, "inputs", descriptionFile);
    model.description_.outputs = parseFeatures(root, "outputs", descriptionFile);
    if (auto metadata = root.find("metadata"); metadata != root.end()) {
        if (!metadata->is_object()) {
            fail(descriptionFile, "\"metadata\" is not an object");
        }
        for (const auto& [key, value] : metadata->items()) {
            model.description_.metadata[key] = value.is_string() ? value.get<std::string>() : value.dump();
        }
    }

    const json tensors = root.value("tensors", json::array());
    if (!tensors.is_array()) {
        fail(descriptionFile, "\"tensors\" is not a list");
    }
    if (tensors.empty()) {
        return model;
    }
    const fs::path weightFile = folder / weightFileName;
    if (!fs::exists(weightFile)) {
        fail(weightFile, "file is missing");
    }
    model.weights_ = MappedFile::open(weightFile);
    const MappedFile& mapped = model.weights_;
    const std::size_t blobSize = mapped.size();
    const std::shared_ptr<void>& blob = mapped.owner();
    std::vector<StoredRange> ranges;
    for (const auto& entry : tensors) {
        if (!entry.is_object()) {
            fail(descriptionFile, "an entry of \"tensors\" is not an object");
        }
        const std::string name = requireString(entry, "name", descriptionFile, "a tensor");
        const std::string what = "tensor \"" + name + "\"";
        const MultiArrayDataType type = parseDataType(entry.value("dataType", json()), descriptionFile, what);
        if (type != MultiArrayDataType::float16 && type != MultiArrayDataType::float32
            && type != MultiArrayDataType::int32) {
            fail(descriptionFile, what + " must be stored as float16, float32 or int32");
        }
        std::vector<int> shape = parseShape(entry.value("shape", json()), descriptionFile, what);
        if (!entry.contains("offset") || !entry["offset"].is_number_unsigned()) {
            fail(descriptionFile, what + " has no offset");
        }
        const auto offset = entry["offset"].get<std::uint64_t>();
        const auto bytes = storedBytes(shape, elementSize(type), blobSize);
        if (offset % elementSize(type) != 0) {
            fail(descriptionFile, what + " is not aligned to its element size");
        }
        if (!bytes || offset > blobSize || *bytes > blobSize - offset) {
            fail(weightFile, what + " lies past the end of the weights (truncated file?)");
        }
        if (model.tensors_.contains(name)) {
            fail(descriptionFile, what + " is listed twice");
        }
        std::vector<int> strides;
        try {
            strides = packedStrides(shape);
        } catch (const MultiArrayError&) {
            fail(descriptionFile, what + " has a shape too large to address");
        }
        if (*bytes > 0) {
            ranges.push_back({offset, offset + *bytes, name});
        }
        void* data = static_cast<unsigned char*>(blob.get()) + offset;
        model.tensors_.emplace(name, MultiArray(blob, data, std::move(shape), type, std::move(strides)));
    }
    // Tensors sharing bytes would make one change through the other.
    std::sort(ranges.begin(), ranges.end(), [](const StoredRange& a, const StoredRange& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < ranges.size(); ++i) {
        if (ranges[i].begin < ranges[i - 1].end) {
            fail(descriptionFile, "tensors \"" + ranges[i - 1].name + "\" and \"" + ranges[i].name + "\" overlap in the weights");
        }
    }
    return model;
}

void ModelFolder::releaseTensor(const MultiArray& tensor) const
{
    const auto at = reinterpret_cast<std::uintptr_t>(tensor.dataPointer());
    const auto begin = reinterpret_cast<std::uintptr_t>(weights_.data());
    const std::size_t bytes = tensor.count() * elementSize(tensor.dataType());
    if (weights_.data() == nullptr || at < begin || at - begin > weights_.size() || bytes > weights_.size() - (at - begin)) {
        return;
    }
    weights_.release(at - begin, bytes);
}

std::vector<std::string> ModelFolder::tensorNames() const
{
    std::vector<std::string> names;
    for (const auto& [name, tensor] : tensors_) {
        names.push_back(name);
    }
    return names;
}

const MultiArray& ModelFolder::tensor(const std::string& name) const
{
    auto it = tensors_.find(name);
    if (it == tensors_.end()) {
        fail(path_ / descriptionFileName, "tensor \"" + name + "\" is missing");
    }
    return it->second;
}

const MultiArray& ModelFolder::tensor(const std::string& name, const std::vector<int>& expectedShape) const
{
    const MultiArray& found = tensor(name);
    if (found.shape() != expectedShape) {
        auto text = [](const std::vector<int>& shape) {
            std::string s = "[";
            for (std::size_t i = 0; i < shape.size(); ++i) {
                s += (i ? ", " : "") + std::to_string(shape[i]);
            }
            return s + "]";
        };
        fail(path_ / descriptionFileName,
            "tensor \"" + name + "\" has shape " + text(found.shape()) + ", expected " + text(expectedShape));
    }
    return found;
}

int ModelFolder::intParameter(const std::string& name) const
{
    auto it = parameters_.find(name);
    if (it == parameters_.end() || !it->is_number_integer()) {
        fail(path_ / descriptionFileName, "parameter \"" + name + "\" is missing or not an integer");
    }
    const auto value = platform::BoundedJson::intOf(*it);
    if (!value) {
        fail(path_ / descriptionFileName, "parameter \"" + name + "\" is " + it->dump() + ", outside the range of an integer");
    }
    return *value;
}

double ModelFolder::numberParameter(const std::string& name) const
{
    auto it = parameters_.find(name);
    if (it == parameters_.end() || !it->is_number()) {
        fail(path_ / descriptionFileName, "parameter \"" + name + "\" is missing or not a number");
    }
    return it->get<double>();
}

nlohmann::json featureToJson(const FeatureDescription& feature)
{
    json item = {{"name", feature.name}, {"dataType", dataTypeName(feature.dataType)}, {"shape", feature.shape}};
    if (feature.isOptional) {
        item["optional"] = true;
    }
    if (feature.shapeConstraint) {
        const auto& constraint = *feature.shapeConstraint;
        switch (constraint.type) {
        case ShapeConstraint::Type::unspecified: item["shapeConstraint"] = {{"type", "unspecified"}}; break;
        case ShapeConstraint::Type::enumerated:
            item["shapeConstraint"] = {{"type", "enumerated"}, {"shapes", constraint.enumeratedShapes}};
            break;
        case ShapeConstraint::Type::range: {
            json ranges = json::array();
            for (const auto& [low, high] : constraint.sizeRangeForDimension) {
                ranges.push_back({low, high});
            }
            item["shapeConstraint"] = {{"type", "range"}, {"ranges", ranges}};
            break;
        }
        }
    }
    return item;
}

ModelFolderWriter::ModelFolderWriter(std::string program, nlohmann::json parameters, ModelDescription description)
    : program_(std::move(program))
    , parameters_(std::move(parameters))
    , description_(std::move(description))
{
}

ModelFolderWriter::ModelFolderWriter(const fs::path& folder, std::string program, nlohmann::json parameters,
    ModelDescription description)
    : ModelFolderWriter(std::move(program), std::move(parameters), std::move(description))
{
    folder_ = folder;
    fs::create_directories(folder / "weights");
    weights_.open(folder / ModelFolder::weightFileName, std::ios::binary | std::ios::trunc);
    if (!weights_) {
        throw ModelError((folder / ModelFolder::weightFileName).string() + ": cannot be written");
    }
}

void ModelFolderWriter::appendBytes(const void* bytes, std::size_t count)
{
    if (!folder_) {
        blob_.insert(blob_.end(), static_cast<const unsigned char*>(bytes), static_cast<const unsigned char*>(bytes) + count);
        return;
    }
    weights_.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    if (!weights_) {
        throw ModelError((*folder_ / ModelFolder::weightFileName).string() + ": cannot be written");
    }
}

void ModelFolderWriter::addTensor(const std::string& name, const std::vector<int>& shape,
    const std::vector<float>& values, MultiArrayDataType storage)
{
    std::size_t count = 1;
    for (int dimension : shape) {
        count *= static_cast<std::size_t>(dimension);
    }
    if (count != values.size()) {
        throw ModelError("tensor \"" + name + "\": value count does not match its shape");
    }
    if (storage != MultiArrayDataType::float16 && storage != MultiArrayDataType::float32) {
        throw ModelError("tensor \"" + name + "\": weights are stored as float16 or float32");
    }
    static constexpr unsigned char padding[64] {};
    appendBytes(padding, (size_ + 63) / 64 * 64 - size_);
    size_ = (size_ + 63) / 64 * 64;
    const std::size_t offset = size_;
    if (storage == MultiArrayDataType::float32) {
        appendBytes(values.data(), count * sizeof(float));
    } else {
        // In slices, so that a streamed tensor never needs a second full copy.
        std::vector<std::uint16_t> halves;
        for (std::size_t start = 0; start < count; start += halfSliceLength) {
            const std::size_t length = std::min(halfSliceLength, count - start);
            halves.resize(length);
            for (std::size_t i = 0; i < length; ++i) {
                halves[i] = Float16::fromFloat(values[start + i]);
            }
            appendBytes(halves.data(), length * sizeof(std::uint16_t));
        }
    }
    size_ += count * elementSize(storage);
    entries_.push_back({name, shape, storage, offset});
}

json ModelFolderWriter::descriptionJson() const
{
    json root;
    root["format"] = ModelFolder::formatName;
    root["formatVersion"] = ModelFolder::formatVersion;
    root["program"] = program_;
    root["parameters"] = parameters_;
    root["inputs"] = json::array();
    for (const auto& feature : description_.inputs) {
        root["inputs"].push_back(featureToJson(feature));
    }
    root["outputs"] = json::array();
    for (const auto& feature : description_.outputs) {
        root["outputs"].push_back(featureToJson(feature));
    }
    root["metadata"] = description_.metadata;
    root["tensors"] = json::array();
    for (const auto& entry : entries_) {
        root["tensors"].push_back({{"name", entry.name}, {"dataType", dataTypeName(entry.dataType)},
            {"shape", entry.shape}, {"offset", entry.offset}});
    }
    return root;
}

void ModelFolderWriter::writeDescription(const fs::path& folder) const
{
    std::ofstream out(folder / ModelFolder::descriptionFileName, std::ios::binary | std::ios::trunc);
    out << descriptionJson().dump(2) << '\n';
    if (!out) {
        throw ModelError((folder / ModelFolder::descriptionFileName).string() + ": cannot be written");
    }
}

void ModelFolderWriter::write(const fs::path& folder) const
{
    if (folder_) {
        throw std::logic_error("a streaming model folder writer is completed with finish()");
    }
    fs::create_directories(folder / "weights");
    writeDescription(folder);
    std::ofstream weights(folder / ModelFolder::weightFileName, std::ios::binary | std::ios::trunc);
    weights.write(reinterpret_cast<const char*>(blob_.data()), static_cast<std::streamsize>(blob_.size()));
    if (!weights) {
        throw ModelError((folder / ModelFolder::weightFileName).string() + ": cannot be written");
    }
}

void ModelFolderWriter::finish()
{
    if (!folder_) {
        throw std::logic_error("only a streaming model folder writer is completed with finish()");
    }
    weights_.close();
    if (!weights_) {
        throw ModelError((*folder_ / ModelFolder::weightFileName).string() + ": cannot be written");
    }
    writeDescription(*folder_);
}

} // namespace ml
