#include "app/AppInfo.h"

#include "msg/Format.h"

#ifndef QV_VERSION_MAJOR
#error "the build defines the program version (QV_VERSION_*)"
#endif

void CAppInfo::Load() {
    makerName = ResString(130);
    productKeyName = ResString(131);
    displayName = ResString(136);
    version = {QV_VERSION_MAJOR, QV_VERSION_MINOR, QV_VERSION_PATCH, QV_VERSION_TWEAK};
    legalNotice = "Copyright (C) " + makerName;
}

std::string CAppInfo::VersionText() const {
    return std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
           std::to_string(version[2]) + "." + std::to_string(version[3]);
}

CAppInfo& AppInfo() {
    static CAppInfo info;
    return info;
}
