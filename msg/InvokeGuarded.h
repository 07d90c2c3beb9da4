// InvokeGuarded: runs a unit of work and turns every exception into an
// error record. Nothing escapes it; afterwards err.Failed() tells whether
// the call failed. Safe on any thread (no shared state).
//
// Catch order and the record it leaves:
//   my::CCtrlException  id, code, message (and the control handle when the
//                       record is a my::CCtrlException itself);
//   my::CException      id, code, message;
//   boost::regex_error  the regex message of its error code (59137-59150),
//                       or 59135 "Regular expression error: %s" with what();
//                       code 0;
//   std::exception      58576 "std exception is occurred: %s" with what()
//                       cut to 255 code points;
//   anything else       58578 "Unknown exception is occurred".
// what() texts are taken as UTF-8; a byte that starts no valid sequence
// becomes '?'. If building the record itself fails (out of memory), the
// record is left as 58578 with as much of its text as could be stored.
#pragma once

#include <cstdint>
#include <functional>

#include "msg/Exception.h"

void InvokeGuarded(CSimpleErr& err, const std::function<void()>& work);
void InvokeGuarded(my::CCtrlException& err, const std::function<void()>& work);

// The message id for a Boost.Regex error code (boost::regex_constants::
// error_type value), 0 when the code has no message of its own.
std::uint32_t RegexErrorMessageId(int errorCode);
