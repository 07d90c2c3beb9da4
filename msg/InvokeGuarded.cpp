#include "msg/InvokeGuarded.h"

#include <boost/regex/pattern_except.hpp>

#include "msg/MessageIds.h"
#include "msg/Utf8.h"

namespace {

constexpr std::size_t kMaxWhatLength = 255;

void Guard(CSimpleErr& err, void** control, const std::function<void()>& work) {
    err.Clear();
    if (control != nullptr) {
        *control = nullptr;
    }
    try {
        try {
            work();
        } catch (const my::CCtrlException& e) {
            err = static_cast<const CSimpleErr&>(e);
            if (control != nullptr) {
                *control = e.control;
            }
        } catch (const my::CException& e) {
            err = static_cast<const CSimpleErr&>(e);
        } catch (const boost::regex_error& e) {
            const std::uint32_t id = RegexErrorMessageId(static_cast<int>(e.code()));
            if (id != 0) {
                err.Set(id);
            } else {
                err.Set(kMsgRegexError, SanitizeUtf8(e.what(), kMaxWhatLength));
            }
        } catch (const std::exception& e) {
            err.Set(kMsgStdException, SanitizeUtf8(e.what(), kMaxWhatLength));
        } catch (...) {
            err.Set(kMsgUnknownException);
        }
    } catch (...) {
        // Only reached when the record could not be built (no memory left).
        err.id = kMsgUnknownException;
        err.code = 0;
        try {
            err.message = "Unknown exception is occurred";
        } catch (...) {
            err.message.clear();
        }
    }
}

}  // namespace

void InvokeGuarded(CSimpleErr& err, const std::function<void()>& work) {
    Guard(err, nullptr, work);
}

void InvokeGuarded(my::CCtrlException& err, const std::function<void()>& work) {
    Guard(err, &err.control, work);
}

std::uint32_t RegexErrorMessageId(int errorCode) {
    switch (errorCode) {
        case 2:
            return kMsgRegexUnknown;
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 10:
        case 11:
        case 12:
        case 13:
            return static_cast<std::uint32_t>(kMsgRegexCollate - 3 + errorCode);
        case 18:
            return kMsgRegexComplexity;
        case 19:
            return kMsgRegexStack;
        default:
            return 0;
    }
}
