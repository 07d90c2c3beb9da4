// CSimpleErr: an error record, copied by value.
//
// id is the message's string id (0: no error), code a system error code or
// HRESULT that goes with the message (0: none), message the finished text.
#pragma once

#include <cstdint>
#include <string>

#include "msg/Format.h"

class CSimpleErr {
  public:
    CSimpleErr() = default;
    CSimpleErr(std::uint32_t id, std::string message, std::uint32_t code = 0)
        : id(id), code(code), message(std::move(message)) {}

    bool Failed() const { return id != 0; }
    void Clear() {
        id = 0;
        code = 0;
        message.clear();
    }

    // code := 0; message := the text of id, empty for id 0. Throws
    // my::CException 58597 when id has no text.
    void Set(std::uint32_t id);

    // code := 0; message := Format(id, args...).
    template <class... Args>
    void Set(std::uint32_t newId, const Args&... args) {
        std::string text;
        Format(text, newId, args...);
        Assign(newId, 0, std::move(text));
    }

    std::uint32_t id = 0;
    std::uint32_t code = 0;
    std::string message;

  private:
    // Changes the record only once the text is complete, so a throwing
    // Format leaves it as it was.
    void Assign(std::uint32_t newId, std::uint32_t newCode, std::string text) {
        id = newId;
        code = newCode;
        message = std::move(text);
    }
};
