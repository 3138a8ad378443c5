// What the private cloud store reads back from bytes: change tokens, double and date field values
// in their stored forms, stored field rows (NULL columns, unknown or mismatched kinds, fields left
// out), and record names and fields as saving validates them. Doubles and tokens must come back as
// they were written; a row gives a value only of its own kind, never throws, and a field without
// one is missing from its record, where every other kind reads as absent.
//
// Layout: double text (length byte), 8 bytes of a double, 8 bytes of date nanoseconds, zone,
// record name and type (each a length byte and text), then fields until the input ends: a key
// (length byte % 32) and an operation byte % 4: 0 text, 1 the double, 2 the date, 3 a stored row
// (kind byte % 6 of "s", "d", "t", "a", "", "x"; a byte whose bits 0-2 make the string, double
// and date columns NULL; string and double texts; 8 bytes of date).

#include "FuzzSupport.hpp"
#include "platform/cloud/CloudError.hpp"
#include "platform/cloud/Record.hpp"
#include "platform/cloud/ServerChangeToken.hpp"
#include "platform/cloud/server/FieldText.hpp"
#include "platform/cloud/server/Validation.hpp"

#include <cmath>
#include <cstring>
#include <optional>
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
            switch (input.byte() % 4) {
            case 0: record.set(key, std::string(input.text(input.byte()))); break;
            case 1: record.set(key, bits); break;
            case 2: record.set(key, server::dateFromNanoseconds(nanoseconds)); break;
            default: {
                static constexpr std::string_view kinds[] = {"s", "d", "t", "a", "", "x"};
                const std::string_view kind = kinds[input.byte() % 6];
                const std::uint8_t nulls = input.byte();
                const std::string_view stringColumn = input.text(input.byte());
                const std::string_view doubleColumn = input.text(input.byte());
                const auto dateColumn = static_cast<std::int64_t>(static_cast<std::uint64_t>(input.number(4)) << 32 | input.number(4));
                const server::StoredField row {
                    .kind = kind,
                    .stringValue = nulls & 1 ? std::nullopt : std::optional(stringColumn),
                    .doubleValue = nulls & 2 ? std::nullopt : std::optional(doubleColumn),
                    .dateValue = nulls & 4 ? std::nullopt : std::optional(dateColumn),
                };
                std::optional<Record::FieldValue> value;
                try {
                    value = server::storedValue(row);
                } catch (...) {
                    std::abort();
                }
                bool parses = true;
                try {
                    server::parseDouble(doubleColumn);
                } catch (const CloudError&) {
                    parses = false;
                }
                const bool readable = (kind == "s" && row.stringValue) || (kind == "d" && row.doubleValue && parses)
                    || (kind == "t" && row.dateValue);
                if (value.has_value() != readable) {
                    std::abort();
                }
                if (!value) {
                    // Left out of the record, as the fetch does: a missing field.
                    break;
                }
                const std::size_t wanted = kind == "s" ? 0 : kind == "d" ? 1 : 2;
                if (value->index() != wanted) {
                    std::abort();
                }
                record.set(key, *value);
                break;
            }
            }
        }
        // A reader asking for another kind, or for a field left out, finds nothing.
        for (const std::string key : {"title", "transcription", "duration", "date", "category", "x"}) {
            const auto* value = record.value(key);
            if (record.contains(key) != (value != nullptr)
                || (record.get<std::string>(key) != nullptr) != (value && value->index() == 0)
                || (record.get<double>(key) != nullptr) != (value && value->index() == 1)
                || (record.get<Record::Date>(key) != nullptr) != (value && value->index() == 2)) {
                std::abort();
            }
        }
        server::validateContainer(zoneName);
        server::validateRecord(record);
    } catch (const CloudError&) {
    }
    return 0;
}
