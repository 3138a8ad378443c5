// The tensor table of a model description against its weight blob: names, element types, shapes
// and offsets decoded from the input, with a blob of an input-chosen size, so that the fuzzer works
// on ranges, overlaps and strides rather than on JSON syntax. Every tensor that opens is read at
// its first, middle and last element.

#include "FuzzSupport.hpp"
#include "platform/ml/ModelFolder.hpp"

#include <nlohmann/json.hpp>

#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using nlohmann::json;
    fuzzsupport::InputReader input(data, size);
    const auto folder = fuzzsupport::scratchFolder() / "Table.mlmodelc";
    std::filesystem::create_directories(folder / "weights");

    const std::size_t blobSize = input.number(2) * 4 + input.byte() % 4;
    fuzzsupport::writeFile(folder / ml::ModelFolder::weightFileName, std::string(blobSize, '\x3c'));

    static const char* const types[] = {"float16", "float32", "int32", "float64", "int8"};
    json tensors = json::array();
    const int count = 1 + input.byte() % 8;
    for (int t = 0; t < count && !input.empty(); ++t) {
        json shape = json::array();
        const int rank = input.byte() % 5;
        for (int d = 0; d < rank; ++d) {
            // Small sizes mostly, with the edges of the integer ranges now and then.
            const std::uint8_t choice = input.byte();
            if (choice == 0xff) {
                shape.push_back(static_cast<std::int64_t>(input.number(4)));
            } else if (choice == 0xfe) {
                shape.push_back(std::int64_t {1} << 32);
            } else {
                shape.push_back(choice % 64);
            }
        }
        const std::uint8_t offsetChoice = input.byte();
        const json offset = offsetChoice == 0xff ? json(std::uint64_t {input.number(4)} << 32 | input.number(4))
                                                 : json(std::uint64_t {input.number(2)});
        tensors.push_back({{"name", "t" + std::to_string(input.byte() % 6)}, {"dataType", types[input.byte() % 5]},
            {"shape", shape}, {"offset", offset}});
    }
    const json root = {{"format", ml::ModelFolder::formatName}, {"formatVersion", ml::ModelFolder::formatVersion},
        {"program", "scale"}, {"parameters", {{"factor", 2.0}}},
        {"inputs", json::array({{{"name", "x"}, {"dataType", "float32"}, {"shape", {2}}}})},
        {"outputs", json::array({{{"name", "y"}, {"dataType", "float32"}, {"shape", {2}}}})}, {"tensors", tensors}};
    fuzzsupport::writeFile(folder / ml::ModelFolder::descriptionFileName, root.dump());
    try {
        const auto opened = ml::ModelFolder::open(folder);
        for (const auto& name : opened.tensorNames()) {
            const auto& tensor = opened.tensor(name);
            for (std::size_t index : {std::size_t {0}, tensor.count() / 2, tensor.count() - 1}) {
                if (index < tensor.count()) {
                    tensor[index];
                }
            }
        }
    } catch (const std::exception&) {
    }
    return 0;
}
