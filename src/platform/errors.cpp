#include "platform/errors.h"

std::string FormatMessage(std::string_view format, std::string_view argument)
{
    std::string result(format);
    if (auto at = result.find("%s"); at != std::string::npos)
        result.replace(at, 2, argument);
    return result;
}

void RaiseConvertError(std::string_view text)
{
    throw EConvertError(FormatMessage(Msg::InvalidInteger, text));
}
void RaiseListIndexError() { throw EListError(Msg::ListIndexError); }
void RaiseFOpenError(std::string_view fileName)
{
    throw EFOpenError(FormatMessage(Msg::FOpenError, fileName));
}
void RaiseReadError() { throw EReadError(Msg::ReadError); }
void RaiseInvalidBitmap() { throw EInvalidGraphic(Msg::InvalidBitmap); }
void RaiseFCreateError(std::string_view fileName)
{
    throw EFCreateError(FormatMessage(Msg::FCreateError, fileName));
}
void RaiseWriteError() { throw EWriteError(Msg::WriteError); }
void RaiseOutOfResources() { throw EOutOfResources(Msg::OutOfResources); }
