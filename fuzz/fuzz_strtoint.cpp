// Feeds arbitrary bytes to the integer grammar the user types into the size edits. The two
// entry points must agree (StrToInt raises exactly when TryStrToInt has no value), and plain
// decimal text must read as the number it spells, which an independent parse checks.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/text.h"

namespace {

[[noreturn]] void Fail() { std::abort(); }

// Canonical decimal: an optional "-", then digits with no leading zero (a lone "0" aside)
// and no "-0". Exactly these are the texts IntToStr gives back unchanged.
bool IsCanonicalDecimal(std::string_view text)
{
    std::string_view digits = text;
    if (digits.starts_with('-'))
        digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 11)
        return false;
    for (char c : digits)
        if (c < '0' || c > '9')
            return false;
    if (digits.size() > 1 && digits[0] == '0')
        return false;
    return !(text.starts_with('-') && digits == "0");
}

// The reading of decimal text that any correct implementation must give: leading spaces,
// an optional sign, then only digits, in the 32-bit signed range. Returns nothing for text
// that is not of this shape, which leaves the hexadecimal forms to the round-trip checks.
std::optional<std::optional<int32_t>> ReferenceDecimal(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string_view rest = text.substr(i);
    bool negative = false;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    if (rest.empty())
        return std::optional<int32_t>();
    for (char c : rest)
        if (c < '0' || c > '9')
            return std::nullopt;
    // The hexadecimal prefix "0x" is not decimal; digits alone never contain it.
    size_t first = rest.find_first_not_of('0');
    std::string_view significant = first == std::string_view::npos ? std::string_view("0") : rest.substr(first);
    if (significant.size() > 10)
        return std::optional<int32_t>();
    int64_t magnitude = 0;
    std::from_chars(significant.data(), significant.data() + significant.size(), magnitude);
    int64_t value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::optional<int32_t>();
    return std::optional<int32_t>(static_cast<int32_t>(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    std::optional<int32_t> tried = TryStrToInt(text);

    bool raised = false;
    int32_t converted = 0;
    try {
        converted = StrToInt(text);
    } catch (const EConvertError &) {
        raised = true;
    }
    if (raised != !tried.has_value())
        Fail();
    if (tried && converted != *tried)
        Fail();

    if (auto reference = ReferenceDecimal(text); reference && *reference != tried)
        Fail();

    if (tried) {
        // Whatever was accepted, its decimal spelling must read back as the same value.
        std::string spelled = IntToStr(*tried);
        if (TryStrToInt(spelled) != tried)
            Fail();
        if (IsCanonicalDecimal(text) && spelled != text)
            Fail();
    }
    return 0;
}
