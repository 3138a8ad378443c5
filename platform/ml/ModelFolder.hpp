#pragma once

#include "platform/ml/MappedFile.hpp"
#include "platform/ml/ModelDescription.hpp"
#include "platform/ml/MultiArray.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ml {

// A compiled model folder "<Name>.mlmodelc": "model.json" (description, program, parameters and the
// tensor table) and "weights/weight.bin" (one little-endian blob the tensors point into).
class ModelFolder {
public:
    static constexpr const char* descriptionFileName = "model.json";
    static constexpr const char* weightFileName = "weights/weight.bin";
    static constexpr const char* formatName = "parlino.mlmodelc";
    static constexpr int formatVersion = 1;
    // The description is read whole; it lists names and shapes only, so this is far more than any
    // model needs.
    static constexpr std::size_t maximumDescriptionSize = 64u << 20;

    // Parses and validates the folder; throws ModelError naming the file at fault.
    static ModelFolder open(const std::filesystem::path& folder);
    // The bytes the weight file must hold for every tensor its description lists, read from the
    // description alone; throws ModelError when the description cannot be read.
    static std::uint64_t declaredWeightBytes(const std::filesystem::path& folder);

    const std::filesystem::path& path() const { return path_; }
    const std::string& program() const { return program_; }
    const nlohmann::json& parameters() const { return parameters_; }
    const ModelDescription& description() const { return description_; }

    bool hasTensor(const std::string& name) const { return tensors_.contains(name); }
    std::vector<std::string> tensorNames() const;
    // The named weight tensor; throws ModelError when it is missing or, with an expected shape, shaped otherwise.
    const MultiArray& tensor(const std::string& name) const;
    const MultiArray& tensor(const std::string& name, const std::vector<int>& expectedShape) const;
    // Lets the system drop a tensor's resident pages, for weights a program has copied: a later
    // read fetches them from the file again. Does nothing for arrays that are not this folder's.
    void releaseTensor(const MultiArray& tensor) const;

    // Integer and number parameters of the program, with a clear error when missing or mistyped.
    int intParameter(const std::string& name) const;
    double numberParameter(const std::string& name) const;

private:
    std::filesystem::path path_;
    std::string program_;
    nlohmann::json parameters_;
    ModelDescription description_;
    std::map<std::string, MultiArray> tensors_;
    MappedFile weights_;
};

// Writes a model folder; used by the model compiler and by tests that make tiny models.
class ModelFolderWriter {
public:
    // Keeps the weights in memory until write(folder).
    ModelFolderWriter(std::string program, nlohmann::json parameters, ModelDescription description);
    // Streams each tensor into the folder's weight file as it is added, so that a large model is
    // never held whole; finish() then writes the description.
    ModelFolderWriter(const std::filesystem::path& folder, std::string program, nlohmann::json parameters,
        ModelDescription description);

    // Weights are stored with the given element type (float16 or float32) from float values.
    void addTensor(const std::string& name, const std::vector<int>& shape, const std::vector<float>& values,
        MultiArrayDataType storage = MultiArrayDataType::float32);
    void write(const std::filesystem::path& folder) const;
    void finish();

private:
    struct Entry {
        std::string name;
        std::vector<int> shape;
        MultiArrayDataType dataType;
        std::size_t offset;
    };
    static constexpr std::size_t halfSliceLength = 1 << 16;

    void appendBytes(const void* bytes, std::size_t count);
    nlohmann::json descriptionJson() const;
    void writeDescription(const std::filesystem::path& folder) const;

    std::string program_;
    nlohmann::json parameters_;
    ModelDescription description_;
    std::vector<Entry> entries_;
    std::size_t size_ = 0;
    std::vector<unsigned char> blob_;
    std::optional<std::filesystem::path> folder_;
    std::ofstream weights_;
};

nlohmann::json featureToJson(const FeatureDescription& feature);

} // namespace ml
