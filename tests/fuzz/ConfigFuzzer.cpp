// Lookups in a parsed configuration: the input is a list of member names (camel or snake case)
// after a JSON document, walked as the tokenizer and model readers walk theirs.

#include "FuzzSupport.hpp"
#include "Hub/Config.hpp"
#include "platform/system/BoundedJson.hpp"

#include <exception>

namespace {

void touch(const hub::Config& config)
{
    config.intValue();
    config.boolValue();
    config.stringValue();
    config.tokenValue();
    config.dictionary();
    if (const auto items = config.arrayValue()) {
        for (const auto& item : *items) {
            item.intValue();
            item.stringValue();
            item.tokenValue();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto [names, document] = fuzzsupport::splitTwo(data, size);
    try {
        hub::Config config(platform::BoundedJson::parse(document));
        touch(config);
        std::size_t start = 0;
        while (start <= names.size()) {
            const std::size_t end = std::min(names.find('\n', start), names.size());
            const std::string name(names.substr(start, end - start));
            hub::camelToSnakeCase(name);
            const auto member = config[name];
            if (!member) {
                break;
            }
            touch(*member);
            config = *member;
            start = end + 1;
        }
    } catch (const std::exception&) {
    }
    return 0;
}
