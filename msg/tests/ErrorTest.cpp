#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>

#include "msg/Exception.h"
#include "msg/InvokeGuarded.h"
#include "msg/Result.h"
#include "msg/SimpleErr.h"
#include "msg/SystemErrorText.h"
#include "msg/tests/LanguageScope.h"

namespace {

TEST(SystemErrorText, KnownUnknownAndFacility8Codes) {
    LanguageScope english(Language::English);
    const std::pair<std::uint32_t, std::string> cases[] = {
        {static_cast<std::uint32_t>(E_INVALIDARG), "The parameter is incorrect."},
        // A plain Windows error number reads like its 0x8007xxxx form.
        {ERROR_FILE_EXISTS, "The file exists."},
        // Facility 8 codes use their low 16 bits; facility 9 is not reduced.
        {0xE0080003u, "The system cannot find the path specified."},
        {0x80090002u, "Unknown HRESULT: 80090002"},
        // ENOTEMPTY maps to ERROR_DIR_NOT_EMPTY, which has no text of our own.
        {static_cast<std::uint32_t>(HResultFromErrno(ENOTEMPTY)), std::strerror(ENOTEMPTY)},
        {0x8007FFFFu, "Unknown HRESULT: 8007ffff"},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(SystemErrorText(code), text) << std::hex << code;
    }
    LanguageScope japanese(Language::Japanese);
    EXPECT_EQ(SystemErrorText(0x80070002u), "指定されたファイルが見つかりません。");
}

TEST(SimpleErr, FailedSetKeepsTheRecord) {
    LanguageScope english(Language::English);
    CSimpleErr err(40022, "old", 0x80070002u);
    // A missing id throws and leaves the record as it was.
    EXPECT_THROW(err.Set(40004, "x"), my::CException);
    EXPECT_EQ(err.id, 40022u);
    EXPECT_EQ(err.code, 0x80070002u);
}

TEST(InvokeGuarded, ProgramExceptionsKeepTheirRecord) {
    int control = 0;
    my::CCtrlException holder;
    InvokeGuarded(holder, [&] {
        throw my::CCtrlException(CSimpleErr(40011, "edit box", 0x80004005u), &control);
    });
    EXPECT_EQ(holder.id, 40011u);
    EXPECT_EQ(holder.code, 0x80004005u);
    EXPECT_EQ(holder.message, "edit box");
    EXPECT_EQ(holder.control, &control);

    // A later plain exception clears the handle.
    InvokeGuarded(holder, [] { throw my::CException(40007, "save", 3); });
    EXPECT_EQ(holder.id, 40007u);
    EXPECT_EQ(holder.code, 3u);
    EXPECT_EQ(holder.control, nullptr);
}

// Each exception kind becomes its message; regex errors come from a real
// pattern, std messages are cut to 255 code points with bad UTF-8 replaced.
TEST(InvokeGuarded, CatchOrderAndMessages) {
    LanguageScope english(Language::English);
    int control = 0;
    const struct {
        std::function<void()> work;
        std::uint32_t id;
        std::string message;
    } cases[] = {
        {[&] { throw my::CCtrlException(CSimpleErr(40009, "combo"), &control); }, 40009, "combo"},
        {[] { ThrowInternalError("odd state"); }, 58575, "Internal error\n\nodd state"},
        {[] { boost::regex unbalanced("("); }, 59142, "Mismatched '(' and ')'"},
        // Codes without their own message fall back to 59135 with what().
        {[] { throw boost::regex_error("odd", boost::regex_constants::error_unknown, 0); }, 59135,
         "Regular expression error: odd"},
        {[] { throw std::runtime_error(std::string(300, 'x')); }, 58576,
         "std exception is occurred: " + std::string(255, 'x')},
        {[] { throw std::runtime_error("bad \xff byte, 写真"); }, 58576,
         "std exception is occurred: bad ? byte, 写真"},
        {[] { throw 42; }, 58578, "Unknown exception is occurred"},
    };
    CSimpleErr err;
    for (const auto& c : cases) {
        InvokeGuarded(err, c.work);
        EXPECT_EQ(err.id, c.id);
        EXPECT_EQ(err.message, c.message);
    }
    // Success clears what an earlier call left.
    InvokeGuarded(err, [] {});
    EXPECT_FALSE(err.Failed());
    EXPECT_EQ(err.message, "");

    LanguageScope japanese(Language::Japanese);
    InvokeGuarded(err, [] { boost::regex openSet("[a"); });
    EXPECT_EQ(err.id, 59141u);
    EXPECT_EQ(err.code, 0u);
    EXPECT_EQ(err.message, "[] が不正な場所で使用されています");
}

}  // namespace
