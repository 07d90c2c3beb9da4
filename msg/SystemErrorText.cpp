#include "msg/SystemErrorText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "msg/Result.h"
#include "msg/StringTable.h"

namespace {

struct ErrorText {
    std::uint32_t code;
    const char* english;
    const char* japanese;
};

// Sorted by code.
constexpr ErrorText kErrorTexts[] = {
    {0x00000000u, "The operation completed successfully.", "この操作を正しく終了しました。"},
    {0x80004001u, "Not implemented", "実装されていません"},
    {0x80004004u, "Operation aborted", "操作は中止されました"},
    {0x80004005u, "Unspecified error", "エラーを特定できません"},
    {0x80070001u, "Incorrect function.", "ファンクションが間違っています。"},
    {0x80070002u, "The system cannot find the file specified.",
     "指定されたファイルが見つかりません。"},
    {0x80070003u, "The system cannot find the path specified.", "指定されたパスが見つかりません。"},
    {0x80070004u, "The system cannot open the file.", "ファイルを開くことができません。"},
    {0x80070005u, "Access is denied.", "アクセスが拒否されました。"},
    {0x80070008u, "Not enough memory resources are available to process this command.",
     "このコマンドを処理するにはメモリ リソースが足りません。"},
    {0x8007000Bu, "An attempt was made to load a program with an incorrect format.",
     "間違ったフォーマットのプログラムを読み込もうとしました。"},
    {0x8007000Du, "The data is invalid.", "データが無効です。"},
    {0x8007000Eu, "Not enough memory resources are available to complete this operation.",
     "この操作を完了するにはメモリ リソースが足りません。"},
    {0x80070013u, "The media is write protected.", "メディアは書き込み禁止になっています。"},
    {0x80070020u, "The process cannot access the file because it is being used by another process.",
     "プロセスはファイルにアクセスできません。別のプロセスが使用中です。"},
    {0x80070026u, "Reached the end of the file.", "ファイルの終わりに達しました。"},
    {0x80070050u, "The file exists.", "ファイルが存在します。"},
    {0x80070057u, "The parameter is incorrect.", "パラメーターが間違っています。"},
    {0x80070070u, "There is not enough space on the disk.",
     "ディスクに十分な空き領域がありません。"},
    {0x8007007Bu, "The filename, directory name, or volume label syntax is incorrect.",
     "ファイル名、ディレクトリ名、またはボリューム ラベルの構文が間違っています。"},
    {0x800700AAu, "The requested resource is in use.", "要求したリソースは使用中です。"},
    {0x800700B7u, "Cannot create a file when that file already exists.",
     "既に存在するファイルを作成することはできません。"},
    {0x800700CEu, "The filename or extension is too long.", "ファイル名または拡張子が長すぎます。"},
    {0x800700DFu, "The file size exceeds the limit allowed and cannot be saved.",
     "ファイル サイズが制限を超えているため、保存できません。"},
    {0x8007010Bu, "The directory name is invalid.", "ディレクトリ名が無効です。"},
    {0x8007045Du, "The request could not be performed because of an I/O device error.",
     "I/O デバイス エラーが発生したため、要求を実行できませんでした。"},
    {0x80070483u, "No application is associated with the specified file for this operation.",
     "この操作を実行するために指定されたファイルに関連付けられたアプリケーションがありません。"},
    {0x80070484u, "An error occurred in sending the command to the application.",
     "アプリケーションへのコマンドの送信中にエラーが発生しました。"},
    {0x80070485u, "One of the library files needed to run this application cannot be found.",
     "このアプリケーションを実行するために必要なライブラリ ファイルの 1 つが見つかりません。"},
    {0x800705B4u, "This operation returned because the timeout period expired.",
     "タイムアウト期間が経過したため、この操作は終了しました。"},
    {0x80070716u, "The specified resource name cannot be found in the image file.",
     "指定されたリソース名がイメージ ファイルに見つかりません。"},
    {0x88982F07u, "not an image file", "画像ファイルではありません"},
};

constexpr bool IsSorted() {
    for (std::size_t i = 1; i < std::size(kErrorTexts); ++i) {
        if (kErrorTexts[i - 1].code >= kErrorTexts[i].code) {
            return false;
        }
    }
    return true;
}
static_assert(IsSorted(), "error texts must be sorted by code");

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// strerror_r comes as the GNU form (returns the text) or the XSI form
// (fills the buffer); these two overloads accept either.
[[maybe_unused]] const char* StrerrorResult(const char* text, const char*) {
    return text;
}
[[maybe_unused]] const char* StrerrorResult(int failed, const char* buffer) {
    return failed == 0 ? buffer : "";
}

std::string ErrnoText(int err) {
    char buffer[256] = {};
    return std::string(StrerrorResult(strerror_r(err, buffer, sizeof buffer), buffer));
}

}  // namespace

std::string SystemErrorText(std::uint32_t code) {
    std::uint32_t key = code;
    if ((key & 0x1FFF0000u) == 0x00080000u) {
        key &= 0xFFFFu;
    }
    if (key != 0 && key <= 0xFFFFu) {
        key = static_cast<std::uint32_t>(HRESULT_FROM_WIN32(key));
    }
    const auto it = std::lower_bound(
        std::begin(kErrorTexts), std::end(kErrorTexts), key,
        [](const ErrorText& entry, std::uint32_t value) { return entry.code < value; });
    if (it != std::end(kErrorTexts) && it->code == key) {
        return std::string(Trim(UiLanguage() == Language::Japanese ? it->japanese : it->english));
    }
    if ((key & 0xFFFF0000u) == 0x80070000u) {
        const int err = ErrnoFromWin32Error(key & 0xFFFFu);
        if (err != 0) {
            const std::string text(Trim(ErrnoText(err)));
            if (!text.empty()) {
                return text;
            }
        }
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(code));
    return std::string("Unknown HRESULT: ") + hex;
}
