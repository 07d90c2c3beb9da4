// The program's exceptions and the throw helpers.
//
// my::CException carries a finished error record (id, code, message); its
// what() returns the message. my::CCtrlException adds the handle of the
// dialog control that should get the focus back after the message was
// shown (null when none); the handle is opaque to this library.
#pragma once

#include <exception>
#include <string>

#include "msg/SimpleErr.h"

namespace my {

class CException : public std::exception, public CSimpleErr {
  public:
    CException() = default;
    CException(std::uint32_t id, std::string message, std::uint32_t code = 0)
        : CSimpleErr(id, std::move(message), code) {}
    explicit CException(const CSimpleErr& err) : CSimpleErr(err) {}

    const char* what() const noexcept override { return message.c_str(); }
};

class CCtrlException : public CException {
  public:
    CCtrlException() = default;
    explicit CCtrlException(const CSimpleErr& err, void* control = nullptr)
        : CException(err), control(control) {}

    void Clear() {
        CSimpleErr::Clear();
        control = nullptr;
    }

    void* control = nullptr;
};

}  // namespace my

// Throws my::CException 58575 "Internal error\n\n%s" with text.
[[noreturn]] void ThrowInternalError(const std::string& text);
