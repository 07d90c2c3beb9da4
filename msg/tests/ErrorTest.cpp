#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <cerrno>
#include <cstring>
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
        {static_cast<std::uint32_t>(HResultFromErrno(ENOENT)),
         "The system cannot find the file specified."},
        // A plain Windows error number reads like its 0x8007xxxx form.
        {ERROR_FILE_EXISTS, "The file exists."},
        // Facility 8 codes use their low 16 bits; facility 9 is not reduced.
        {0x00080002u, "The system cannot find the file specified."},
        {0xE0080003u, "The system cannot find the path specified."},
        {0x80090002u, "Unknown HRESULT: 80090002"},
        // ENOTEMPTY maps to ERROR_DIR_NOT_EMPTY, which has no text of our own.
        {static_cast<std::uint32_t>(HResultFromErrno(ENOTEMPTY)), std::strerror(ENOTEMPTY)},
        {0x8BADF00Du, "Unknown HRESULT: 8badf00d"},
        {0x8007FFFFu, "Unknown HRESULT: 8007ffff"},
    };
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(SystemErrorText(code), text) << std::hex << code;
    }
    LanguageScope japanese(Language::Japanese);
    EXPECT_EQ(SystemErrorText(0x80070002u), "指定されたファイルが見つかりません。");
}

TEST(SimpleErr, SetVariants) {
    LanguageScope english(Language::English);
    CSimpleErr err(1, "old", 5);
    err.Set(0);
    EXPECT_EQ(err.id, 0u);
    EXPECT_EQ(err.code, 0u);
    EXPECT_EQ(err.message, "");
    EXPECT_FALSE(err.Failed());

    err.Set(40009, 143);
    EXPECT_EQ(err.message, "failed to get a value from a combobox ID: 143");

    err.SetWithCode(40022, 0x80070002u);
    EXPECT_EQ(err.id, 40022u);
    EXPECT_EQ(err.code, 0x80070002u);
    EXPECT_EQ(err.message, "failed to read image - The system cannot find the file specified.\n\n");

    // A missing id throws and leaves the record as it was.
    EXPECT_THROW(err.Set(40004, "x"), my::CException);
    EXPECT_EQ(err.id, 40022u);
    EXPECT_EQ(err.code, 0x80070002u);
}

TEST(Exception, ThrowHelpers) {
    LanguageScope english(Language::English);
    try {
        ThrowCastError("int64", "int32", "4294967296");
        FAIL() << "no exception";
    } catch (const my::CException& e) {
        EXPECT_EQ(e.id, 58580u);
        EXPECT_EQ(e.message, "Cast error int64 to int32: 4294967296");
        EXPECT_STREQ(e.what(), e.message.c_str());
    }
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

    CSimpleErr err;
    InvokeGuarded(err, [&] { throw my::CCtrlException(CSimpleErr(40009, "combo"), &control); });
    EXPECT_EQ(err.id, 40009u);
    EXPECT_EQ(err.message, "combo");

    // Success clears what an earlier call left.
    InvokeGuarded(err, [] {});
    EXPECT_FALSE(err.Failed());
    EXPECT_EQ(err.message, "");
}

TEST(InvokeGuarded, RegexErrorsBecomeTheirMessages) {
    CSimpleErr err;
    {
        LanguageScope english(Language::English);
        InvokeGuarded(err, [] { boost::regex unbalanced("("); });
        EXPECT_EQ(err.id, 59142u);
        EXPECT_EQ(err.code, 0u);
        EXPECT_EQ(err.message, "Mismatched '(' and ')'");

        InvokeGuarded(err,
                      [] { throw boost::regex_error(boost::regex_constants::error_complexity); });
        EXPECT_EQ(err.id, 59148u);
        EXPECT_EQ(err.message, "The expression became too complex to handle ");

        // Codes without their own message fall back to 59135 with what().
        InvokeGuarded(err, [] {
            throw boost::regex_error("odd pattern", boost::regex_constants::error_unknown, 0);
        });
        EXPECT_EQ(err.id, 59135u);
        EXPECT_EQ(err.message, "Regular expression error: odd pattern");
    }
    LanguageScope japanese(Language::Japanese);
    InvokeGuarded(err, [] { boost::regex openSet("[a"); });
    EXPECT_EQ(err.id, 59141u);
    EXPECT_EQ(err.message, "[] が不正な場所で使用されています");
}

TEST(InvokeGuarded, StdAndUnknownExceptions) {
    LanguageScope english(Language::English);
    CSimpleErr err;
    InvokeGuarded(err, [] { throw std::runtime_error(std::string(300, 'x')); });
    EXPECT_EQ(err.id, 58576u);
    EXPECT_EQ(err.message, "std exception is occurred: " + std::string(255, 'x'));

    // Bytes that are no valid UTF-8 are replaced, valid sequences kept.
    InvokeGuarded(err, [] { throw std::runtime_error("bad \xff byte, 写真"); });
    EXPECT_EQ(err.message, "std exception is occurred: bad ? byte, 写真");

    InvokeGuarded(err, [] { throw 42; });
    EXPECT_EQ(err.id, 58578u);
    EXPECT_EQ(err.message, "Unknown exception is occurred");
}

}  // namespace
