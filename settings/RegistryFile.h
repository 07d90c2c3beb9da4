// The store's file on disk: reading under a shared advisory lock and
// replacing it atomically under an exclusive one, so that several running
// copies of the program never leave a broken or half-written file.
//
// Locking: flock on the lock file path + ".lock" beside the store (created
// when missing). Writing: the whole new text goes to a temporary file in the
// same folder, which is flushed to disk and renamed over the store. A store
// path that is a symbolic link is resolved first, so the link stays.
//
// A file that is present but does not parse cleanly (or cannot be read) is
// kept aside before it is replaced: it gets a second name
// <path>.corrupt-YYYYMMDD-HHMMSS (with "-2", "-3" ... when that name is
// taken), so no moment passes without a file at <path>.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "msg/Result.h"
#include "settings/RegistryStore.h"

// Largest store file that is read; a bigger one counts as unreadable.
constexpr std::uint64_t kMaxRegistryFileBytes = 64u << 20;

struct RegistryFileStatus {
    enum class State {
        Missing,     // no file (first run): nothing read
        Read,        // read and parsed cleanly
        Damaged,     // read; some lines or the header did not parse (see parse)
        Unreadable,  // present but could not be read (see error)
    };
    State state = State::Missing;
    HRESULT error = S_OK;  // Unreadable: the failure as an HRESULT (errno mapped)
    RegParseReport parse;  // Read, Damaged
    bool NeedsKeepingAside() const { return state == State::Damaged || state == State::Unreadable; }
};

// Reads the file at path into store (merged with its content; what parses
// is used, also from a damaged file). Writes nothing but the lock file and
// never throws.
RegistryFileStatus ReadRegistryFile(const std::string& path, CRegistryStore& store);

struct RegistryUpdateResult {
    HRESULT error = S_OK;     // S_OK when the new file is in place
    RegistryFileStatus read;  // what the fresh read under the lock found
    std::string keptAside;    // the name the old file was kept under, or ""
};

// Read-modify-write under the exclusive lock: reads the current file into a
// fresh store (as ReadRegistryFile), lets edit change it, writes the new text
// to a temporary file, flushes it, keeps a damaged or unreadable file aside
// and renames the temporary file over the path. Creates the missing folders
// of the path (mode 0700). When edit returns false nothing is written and
// the error is E_FAIL. On any failure the file at path keeps its content,
// the temporary file is removed, and the error is returned. The new file
// keeps the permission bits of the old one.
RegistryUpdateResult UpdateRegistryFile(const std::string& path,
                                        const std::function<bool(CRegistryStore&)>& edit);
