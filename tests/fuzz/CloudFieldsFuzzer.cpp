// What the private cloud store reads back from bytes: change tokens, double and date field values
// in their stored forms, and record names and fields as saving validates them. Doubles and tokens
// must come back as they were written.

#include "FuzzSupport.hpp"
#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/Record.hpp"
#include "platform/cloud/ServerChangeToken.hpp"
#include "platform/cloud/server/FieldText.hpp"
#include "platform/cloud/server/Validation.hpp"

#include <cmath>
#include <cstring>
#include <span>

using namespace platform::cloud;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto token = ServerChangeToken::fromBytes(std::span(data, size))) {
        if (ServerChangeToken::fromBytes(token->bytes()) != token) {
            std::abort();
        }
    }

    fuzzsupport::InputReader input(data, size);
    const std::string_view text = input.text(input.byte());
    try {
        const double value = server::parseDouble(text);
        const double again = server::parseDouble(server::doubleText(value));
        if (!(again == value || (std::isnan(again) && std::isnan(value)))) {
            std::abort();
        }
    } catch (const CloudError&) {
    }
    double bits = 0;
    const auto raw = input.text(sizeof bits);
    std::memcpy(&bits, raw.data(), raw.size());
    const double back = server::parseDouble(server::doubleText(bits));
    if (!(std::memcmp(&back, &bits, sizeof bits) == 0 || (std::isnan(back) && std::isnan(bits)) || (back == 0 && bits == 0))) {
        std::abort();
    }
    const auto nanoseconds = static_cast<std::int64_t>(static_cast<std::uint64_t>(input.number(4)) << 32 | input.number(4));
    if (server::dateNanoseconds(server::dateFromNanoseconds(nanoseconds)) != nanoseconds) {
        std::abort();
    }

    try {
        const std::string zoneName(input.text(input.byte()));
        const std::string recordName(input.text(input.byte()));
        Record record(std::string(input.text(input.byte())), Record::ID {recordName, RecordZone::ID {zoneName}});
        while (!input.empty()) {
            const std::string key(input.text(input.byte() % 32));
            switch (input.byte() % 3) {
            case 0: record.set(key, std::string(input.text(input.byte()))); break;
            case 1: record.set(key, bits); break;
            default: record.set(key, server::dateFromNanoseconds(nanoseconds)); break;
            }
        }
        server::validateContainer(zoneName);
        server::validateRecord(record);
    } catch (const CloudError&) {
    }
    return 0;
}
