#include "platform/cloud/server/FieldText.hpp"

#include "platform/cloud/CloudError.hpp"

#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>

namespace platform::cloud::server {

std::string doubleText(double value)
{
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "Infinity" : "-Infinity";
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

double parseDouble(std::string_view text)
{
    if (text == "NaN") {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (text == "Infinity") {
        return std::numeric_limits<double>::infinity();
    }
    if (text == "-Infinity") {
        return -std::numeric_limits<double>::infinity();
    }
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        throw CloudError(CloudError::Code::internalError);
    }
    return value;
}

std::int64_t dateNanoseconds(Record::Date date)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch()).count();
}

Record::Date dateFromNanoseconds(std::int64_t nanoseconds)
{
    return Record::Date(std::chrono::duration_cast<Record::Date::duration>(std::chrono::nanoseconds(nanoseconds)));
}

std::optional<Record::FieldValue> storedValue(const StoredField& field)
{
    if (field.kind == "s" && field.stringValue) {
        return Record::FieldValue(std::string(*field.stringValue));
    }
    if (field.kind == "d" && field.doubleValue) {
        try {
            return Record::FieldValue(parseDouble(*field.doubleValue));
        } catch (const CloudError&) {
            return std::nullopt;
        }
    }
    if (field.kind == "t" && field.dateValue) {
        return Record::FieldValue(dateFromNanoseconds(*field.dateValue));
    }
    return std::nullopt;
}

} // namespace platform::cloud::server
