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

    // Fills the names from the string tables and the version and legal
    // notice from the program's version information. A version block that
    // cannot be read is reported through qv::GlobalMsg() and leaves the
    // version 0.0.0.0 and the notice empty.
    void Load();
};

// The one instance of the process.
CAppInfo& AppInfo();

// The path of the running program ("quorvel" when it cannot be found).
std::string ProgramPath();
