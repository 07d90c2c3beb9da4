// The version information block compiled into the program (see
// msg/VersionInfo.h for its form), generated from the project version.
#pragma once

extern const char kVersionBlock[];
