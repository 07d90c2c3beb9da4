#include "app/AppInfo.h"

#include <filesystem>
#include <system_error>

#include "app/VersionBlock.h"
#include "msg/Format.h"
#include "msg/GlobalMsg.h"
#include "msg/InvokeGuarded.h"
#include "msg/MessageIds.h"
#include "msg/VersionInfo.h"

void CAppInfo::Load() {
    makerName = ResString(kStrMakerName);
    productKeyName = ResString(kStrProductKeyName);
    displayName = ResString(kStrDisplayName);
    CSimpleErr err;
    InvokeGuarded(err, [this] {
        CVersionInfo info;
        info.Load(ProgramPath(), kVersionBlock);
        version = info.GetVersionNumbers();
        legalNotice = info.GetString("\\StringFileInfo\\", "\\LegalCopyright");
    });
    if (err.Failed()) {
        qv::GlobalMsg().ShowError(err);
    }
}

CAppInfo& AppInfo() {
    static CAppInfo info;
    return info;
}

std::string ProgramPath() {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("quorvel") : path.string();
}
