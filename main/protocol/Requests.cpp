#include "protocol/Requests.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace cpi {

namespace {

using Json = nlohmann::json;

// The fields a record takes from the top-level object; every other key is skipped.
enum class Field { profileName, allowedOrigins, windowNumber, baseline, secureFieldOnly, ignored };

struct FieldValues {
    std::optional<std::string> profileName;
    std::optional<std::vector<std::string>> allowedOrigins;
    std::optional<std::uint32_t> windowNumber;
    std::optional<std::vector<std::string>> baseline;
    bool secureFieldOnly = false;
};

// Event-driven decoding of one top-level object. Only the top level and the string lists of the
// two list fields are looked at; every other value is skipped by counting its nesting depth, so no
// part of the input is built into a document and nothing recurses, however deeply it nests.
// Returning false from any event stops the parse and fails the decoding.
class RecordReader {
public:
    explicit RecordReader(bool countRequest) : countRequest_(countRequest) {}

    FieldValues& values() { return values_; }
    bool complete() const { return complete_; }

    // A null field stays absent.
    bool null() {
        return scalar([] { return true; });
    }
    // The one boolean field: any other type for it fails the request rather than silently
    // dropping the restriction it asks for.
    bool boolean(bool value) {
        return scalar([&] { return take(Field::secureFieldOnly, values_.secureFieldOnly, value); });
    }
    bool number_integer(Json::number_integer_t value) {
        return scalar([&] { return value >= 0 && takeWindowNumber(static_cast<std::uint64_t>(value)); });
    }
    bool number_unsigned(Json::number_unsigned_t value) {
        return scalar([&] { return takeWindowNumber(value); });
    }
    // A number written with a fraction or an exponent is not an integer, whatever its value.
    bool number_float(Json::number_float_t, const Json::string_t&) {
        return scalar([] { return false; });
    }
    bool binary(Json::binary_t&) { return false; }

    bool string(Json::string_t& value) {
        if (depth_ == 2 && list_ != nullptr) {
            list_->push_back(std::move(value));
            return true;
        }
        return scalar([&] { return take(Field::profileName, values_.profileName, std::move(value)); });
    }

    bool key(Json::string_t& name) {
        if (depth_ != 1) {
            return true; // a key inside a skipped value
        }
        field_ = fieldNamed(name);
        // A field given twice makes the request ambiguous; other keys are ignored, repeats included.
        return field_ == Field::ignored || seen_.insert(name).second;
    }

    bool start_object(std::size_t) {
        if (depth_ == 0) {
            depth_ = 1;
            return true;
        }
        return enterContainer(false);
    }
    // The top level must be an object.
    bool start_array(std::size_t) { return depth_ != 0 && enterContainer(true); }
    bool end_object() { return leaveContainer(); }
    bool end_array() { return leaveContainer(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

private:
    // A count request takes the profile name only.
    Field fieldNamed(std::string_view name) const {
        static constexpr std::array<std::pair<std::string_view, Field>, 5> names{{
            {"profileName", Field::profileName},
            {"allowedOrigins", Field::allowedOrigins},
            {"windowNumber", Field::windowNumber},
            {"baseline", Field::baseline},
            {"secureFieldOnly", Field::secureFieldOnly},
        }};
        const auto found = std::ranges::find(names, name, &std::pair<std::string_view, Field>::first);
        if (found == names.end() || (countRequest_ && found->second != Field::profileName)) {
            return Field::ignored;
        }
        return found->second;
    }

    // A value that is not a container: at the top level only as a top-level document (refused);
    // as a field's value, judged by `accept` unless the field is ignored; inside a list field, only
    // strings are allowed; anywhere deeper, skipped.
    template <typename Accept>
    bool scalar(Accept accept) {
        if (depth_ == 0) {
            return false;
        }
        if (depth_ == 1) {
            return field_ == Field::ignored || accept();
        }
        return list_ == nullptr || depth_ != 2;
    }

    // The value of the field being read when it is `wanted`; a value for any other field fails.
    template <typename Target, typename Value>
    bool take(Field wanted, Target& target, Value&& value) {
        if (field_ != wanted) {
            return false;
        }
        target = std::forward<Value>(value);
        return true;
    }

    bool takeWindowNumber(std::uint64_t value) {
        return value <= 0xFFFFFFFFu &&
               take(Field::windowNumber, values_.windowNumber, static_cast<std::uint32_t>(value));
    }

    bool enterContainer(bool array) {
        if (depth_ == 1 && field_ != Field::ignored) {
            // Only the two list fields take a container, and only an array.
            if (!array || (field_ != Field::allowedOrigins && field_ != Field::baseline)) {
                return false;
            }
            auto& target = field_ == Field::allowedOrigins ? values_.allowedOrigins : values_.baseline;
            target.emplace();
            list_ = &*target;
        } else if (depth_ == 2 && list_ != nullptr) {
            return false; // a list field holds strings only
        }
        ++depth_;
        return true;
    }

    bool leaveContainer() {
        --depth_;
        if (depth_ == 1) {
            list_ = nullptr;
        } else if (depth_ == 0) {
            complete_ = true;
        }
        return true;
    }

    bool countRequest_;
    std::size_t depth_ = 0; // 1 inside the top-level object
    Field field_ = Field::ignored;
    std::set<std::string> seen_;
    std::vector<std::string>* list_ = nullptr; // the list field being read
    FieldValues values_;
    bool complete_ = false;
};

std::optional<FieldValues> readRecord(std::span<const std::uint8_t> payload, bool countRequest) {
    RecordReader reader(countRequest);
    bool parsed = false;
    try {
        // The parser reads char data: its input adapters over other byte types need the standard
        // library's char_traits for them, which libc++ 19 no longer has for unsigned char.
        const char* const text = reinterpret_cast<const char*>(payload.data());
        parsed = Json::sax_parse(text, text + payload.size(), &reader, Json::input_format_t::json,
                                 /*strict=*/true, /*ignore_comments=*/false);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!parsed || !reader.complete()) {
        return std::nullopt;
    }
    return std::move(reader.values());
}

} // namespace

std::optional<Request> decodeRequest(std::span<const std::uint8_t> payload) {
    std::optional<FieldValues> values = readRecord(payload, false);
    if (!values || !values->profileName || !values->allowedOrigins) {
        return std::nullopt;
    }
    return Request{std::move(*values->profileName), std::move(*values->allowedOrigins), values->windowNumber,
                   std::move(values->baseline), values->secureFieldOnly};
}

std::optional<CountRequest> decodeCountRequest(std::span<const std::uint8_t> payload) {
    std::optional<FieldValues> values = readRecord(payload, true);
    if (!values || !values->profileName) {
        return std::nullopt;
    }
    return CountRequest{std::move(*values->profileName)};
}

} // namespace cpi
