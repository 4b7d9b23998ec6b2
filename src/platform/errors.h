// The platform's exception family. Handlers raise these; the error report shows Message().
#pragma once

#include <exception>
#include <string>

#include "platform/messages.h"

class EPlatformError : public std::exception {
public:
    explicit EPlatformError(std::string message) : message_(std::move(message)) {}
    const std::string &Message() const { return message_; }
    const char *what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

#define KETTO_DECLARE_ERROR(Name)                                                                  \
    class Name : public EPlatformError {                                                           \
    public:                                                                                        \
        using EPlatformError::EPlatformError;                                                      \
    }

KETTO_DECLARE_ERROR(EConvertError);
KETTO_DECLARE_ERROR(EListError);
KETTO_DECLARE_ERROR(EFOpenError);
KETTO_DECLARE_ERROR(EReadError);
KETTO_DECLARE_ERROR(EInvalidGraphic);
KETTO_DECLARE_ERROR(EFCreateError);
KETTO_DECLARE_ERROR(EWriteError);
KETTO_DECLARE_ERROR(EClipboardException);
KETTO_DECLARE_ERROR(EOutOfResources);
KETTO_DECLARE_ERROR(EInOutError);

#undef KETTO_DECLARE_ERROR

// Raisers for the messages that carry no argument or one, so the texts are spelled once.
[[noreturn]] void RaiseConvertError(std::string_view text);
[[noreturn]] void RaiseListIndexError();
[[noreturn]] void RaiseFOpenError(std::string_view fileName);
[[noreturn]] void RaiseReadError();
[[noreturn]] void RaiseInvalidBitmap();
[[noreturn]] void RaiseFCreateError(std::string_view fileName);
[[noreturn]] void RaiseWriteError();
[[noreturn]] void RaiseOutOfResources();
