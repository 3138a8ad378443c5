#include "Tokenizers/PostProcessors.hpp"

#include "StagesTestSupport.hpp"

#include <gtest/gtest.h>

using namespace tokenizers;
using hub::Config;
using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

json special(const std::string& id)
{
    return {{"SpecialToken", {{"id", id}, {"type_id", 0}}}};
}

json sequence(const std::string& id)
{
    return {{"Sequence", {{"id", id}, {"type_id", 0}}}};
}

} // namespace

TEST(PostProcessors, TemplateAndByteLevel)
{
    const auto processor = makePostProcessor(Config(json {{"type", "TemplateProcessing"},
        {"single", {special("<s>"), sequence("A"), special("</s>"), sequence("C")}},
        {"pair", {sequence("A"), special("|"), sequence("B")}}}));
    EXPECT_EQ(processor->postProcess({"a", "b"}, std::nullopt), (Strings {"<s>", "a", "b", "</s>"}));
    EXPECT_EQ((*processor)({"a", "b"}, Strings {"c"}), (Strings {"a", "b", "|", "c"}));
    EXPECT_EQ(processor->postProcess({"a", "b"}, Strings {}), (Strings {"a", "b", "|"}));

    const auto byteLevel = makePostProcessor(Config(json {{"type", "ByteLevel"}, {"trim_offsets", false}}));
    EXPECT_EQ(byteLevel->postProcess({"a", "b"}, Strings {"c"}), (Strings {"a", "b"}));
    EXPECT_EQ(makePostProcessor(std::nullopt), nullptr);
}

TEST(PostProcessors, Roberta)
{
    const json base = {{"type", "RobertaProcessing"}, {"sep", json::array({"</s>", 2})}, {"cls", json::array({"<s>", 0})}};
    const auto keepOne = makePostProcessor(Config(base));
    EXPECT_EQ(keepOne->postProcess({"  hi  ", "hi", " ", "  "}, std::nullopt), (Strings {"<s>", " hi ", "hi", " ", "", "</s>"}));
    EXPECT_EQ(keepOne->postProcess({"a", "b"}, Strings {"c"}), (Strings {"<s>", "a", "b", "</s>", "</s>", "c", "</s>"}));
    EXPECT_EQ(keepOne->postProcess({"a", "b"}, Strings {}), (Strings {"<s>", "a", "b", "</s>"}));

    json trim = base;
    trim["add_prefix_space"] = false;
    EXPECT_EQ(makePostProcessor(Config(trim))->postProcess({" hi\t", "x\n"}, std::nullopt), (Strings {"<s>", "hi", "x\n", "</s>"}));

    json untouched = base;
    untouched["trim_offset"] = false;
    EXPECT_EQ(makePostProcessor(Config(untouched))->postProcess({"  a "}, std::nullopt), (Strings {"<s>", "  a ", "</s>"}));

    // The id may also come first.
    json swapped = base;
    swapped["sep"] = json::array({2, "</s>"});
    EXPECT_EQ(makePostProcessor(Config(swapped))->postProcess({}, std::nullopt), (Strings {"<s>", "</s>"}));
}

TEST(PostProcessors, ConfigurationErrors)
{
    EXPECT_EQ(configurationMessage([] { makePostProcessor(Config(json {{"type", "BertProcessing"}})); }),
        "Unsupported PostProcessor type: BertProcessing");
    EXPECT_EQ(configurationMessage([] { makePostProcessor(Config(json {{"type", "TemplateProcessing"}, {"pair", json::array()}})); }),
        "Missing `single` processor configuration");
    EXPECT_EQ(configurationMessage([] { makePostProcessor(Config(json {{"type", "TemplateProcessing"}, {"single", json::array()}})); }),
        "Missing `pair` processor configuration");
    EXPECT_EQ(configurationMessage([] { makePostProcessor(Config(json {{"type", "RobertaProcessing"}, {"cls", json::array({"<s>", 0})}})); }),
        "Missing `sep` processor configuration");
    EXPECT_EQ(configurationMessage([] {
        makePostProcessor(Config(json {{"type", "RobertaProcessing"}, {"sep", json::array({"</s>", 2})}, {"cls", json::array({"<s>", -1})}}));
    }),
        "Missing `cls` processor configuration");
}
