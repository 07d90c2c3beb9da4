#include "msg/Msg.h"

#include <filesystem>
#include <system_error>

#include "msg/Exception.h"
#include "msg/MessageIds.h"
#include "msg/Result.h"
#include "msg/SystemErrorText.h"

namespace {

constexpr std::uint32_t kWarnOkCancel = MB_OKCANCEL | MB_ICONWARNING;

template <class Range>
std::string ListedPaths(const Range& paths) {
    std::string lines;
    std::size_t listed = 0;
    for (const std::string& path : paths) {
        if (listed == CMsg::kMaxListedFiles) {
            lines += "\n...";
            break;
        }
        if (listed != 0) {
            lines += '\n';
        }
        lines += path;
        ++listed;
    }
    return lines;
}

}  // namespace

std::uint32_t MessageBoxCaptionId(std::uint32_t type) {
    return (type & MB_ICONMASK) == MB_ICONERROR ? kStrErrorCaption : kStrQueryCaption;
}

std::string MessageBoxCaption(std::uint32_t type) {
    return ResString(MessageBoxCaptionId(type));
}

int NegativeAnswer(std::uint32_t type) {
    switch (type & MB_TYPEMASK) {
        case MB_OK:
            return IDOK;
        case MB_YESNO:
            return IDNO;
        case MB_ABORTRETRYIGNORE:
            return IDABORT;
        case MB_OKCANCEL:
        case MB_YESNOCANCEL:
        case MB_RETRYCANCEL:
        case MB_CANCELTRYCONTINUE:
            return IDCANCEL;
        default:
            ThrowInternalError("CConsoleMsg Unknown MB_TYPE is specified");
    }
}

bool CMsg::AskOkCancel(const std::string& text) {
    return Show(text, kWarnOkCancel) == IDOK;
}

bool CMsg::ConfirmDiscardChanges() {
    return AskOkCancel(ResString(kMsgConfirmDiscardChanges));
}

bool CMsg::ConfirmCreateFolder(const std::string& path) {
    return AskOkCancel(Formatted(kMsgConfirmCreateFolder, path));
}

bool CMsg::CreateFolderConfirmed(const std::string& path) {
    if (!ConfirmCreateFolder(path)) {
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path), ec);
    if (!ec) {
        return true;
    }
    // Error codes of std::filesystem are errno values on this platform.
    const auto code = static_cast<std::uint32_t>(HResultFromErrno(ec.value()));
    ShowError(CSimpleErr(kMsgFolderCreationFailed,
                         Formatted(kMsgFolderCreationFailed, SystemErrorText(code), path), code));
    return false;
}

bool CMsg::ConfirmOverwriteFile(const std::string& path) {
    return AskOkCancel(Formatted(kMsgConfirmOverwriteFile, path));
}

bool CMsg::ConfirmOverwriteIfExists(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(path), ec) || ec) {
        return true;
    }
    return ConfirmOverwriteFile(path);
}

bool CMsg::ConfirmOverwriteFiles(const std::vector<std::string>& paths) {
    return AskOkCancel(
        Formatted(kMsgConfirmOverwriteFiles, std::to_string(paths.size()), ListedPaths(paths)));
}

bool CMsg::ConfirmOverwriteFiles(const std::list<std::string>& paths) {
    return AskOkCancel(
        Formatted(kMsgConfirmOverwriteFiles, std::to_string(paths.size()), ListedPaths(paths)));
}

bool CMsg::ConfirmContinueAfterError(const CSimpleErr& err) {
    return AskOkCancel(Formatted(kMsgConfirmContinueAfterError, err.message));
}

bool CMsg::ConfirmContinueAfterConfigError(const std::string& path, const CSimpleErr& err) {
    return AskOkCancel(Formatted(kMsgConfirmContinueAfterConfigError, path, err.message));
}

bool CMsg::ConfirmNewerConfig() {
    return AskOkCancel(ResString(kMsgConfirmNewerConfig));
}

bool CMsg::ConfirmStopPrinting() {
    return Show(ResString(kMsgConfirmStopPrinting), MB_YESNO | MB_ICONWARNING) == IDYES;
}
