#include "platform/text.h"

#include "platform/errors.h"

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<int32_t> TryStrToInt(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string_view rest = text.substr(i);

    // The hexadecimal prefixes take no sign, and "0x" must be tried before a plain decimal
    // so that "0x10" is not read as a 0 followed by junk.
    size_t prefix = 0;
    if (rest.starts_with("0x") || rest.starts_with("0X"))
        prefix = 2;
    else if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X'))
        prefix = 1;
    if (prefix) {
        std::string_view digits = rest.substr(prefix);
        if (digits.empty())
            return std::nullopt;
        uint64_t value = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0)
                return std::nullopt;
            value = value * 16 + static_cast<uint64_t>(d);
            if (value > 0xFFFFFFFFu)
                return std::nullopt;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }

    bool negative = false;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    if (rest.empty())
        return std::nullopt;
    const uint64_t limit = negative ? 2147483648u : 2147483647u;
    uint64_t value = 0;
    for (char c : rest) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > limit)
            return std::nullopt;
    }
    return negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
}

int32_t StrToInt(std::string_view text)
{
    if (auto value = TryStrToInt(text))
        return *value;
    RaiseConvertError(text);
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string ExtractFilePath(std::string_view path)
{
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExtractFileExt(std::string_view path)
{
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return std::string(path.substr(dot));
}

std::string UpperCase(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return result;
}
