// CAppInfo: the application's identity, filled once at start-up.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct CAppInfo {
    std::string makerName;       // string 130
    std::string productKeyName;  // string 131
    std::string displayName;     // string 136
    std::array<std::uint16_t, 4> version{};
    std::string legalNotice;

    // Fills every field from the string tables and the build's version.
    void Load();
    // "1.2.9.0"
    std::string VersionText() const;
};

// The one instance of the process.
CAppInfo& AppInfo();
