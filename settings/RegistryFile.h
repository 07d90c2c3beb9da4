// The store's file on disk: reading under a shared advisory lock and
// replacing it atomically under an exclusive one, so that several running
// copies of the program never leave a broken or half-written file.
//
// Locking: flock on the lock file path + ".lock" beside the store (created
// when missing), waited for at most a given time (10 s by default). Writing:
// the whole new text goes to a temporary file in the same folder, which is
// flushed to disk and renamed over the store.
//
// What the path names decides what happens (a symbolic link is followed
// first, to the end of a chain of links, and the link stays a link):
//  - nothing or a regular file: read and replaced as described;
//  - a character device (/dev/null, the usual way to turn keeping settings
//    off): persistence is off; nothing is read, locked or written, and
//    updates succeed;
//  - anything else (a folder, a pipe, a socket, a block device): never
//    opened, locked, moved or replaced; reads give nothing, updates fail.
//
// A regular file that does not parse cleanly (or cannot be read, or is
// larger than kMaxRegistryFileBytes) is kept aside before it is replaced: it
// gets a second name <path>.corrupt-YYYYMMDD-HHMMSS (with "-2", "-3" ...
// when that name is taken), so no moment passes without a file at <path>.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "msg/Result.h"
#include "settings/RegistryStore.h"

// Largest store file that is read; a bigger one counts as damaged (the
// program writes a few kilobytes).
constexpr std::uint64_t kMaxRegistryFileBytes = 1u << 20;
// Longest wait for another program's lock on the store.
constexpr std::chrono::milliseconds kRegistryLockWait{10000};

struct RegistryFileStatus {
    enum class State {
        Missing,     // no file (first run): nothing read
        Read,        // read and parsed cleanly
        Damaged,     // read; some lines or the header did not parse (see parse)
        TooLarge,    // larger than kMaxRegistryFileBytes: not read
        Unreadable,  // present but could not be read (see error)
        Off,         // a character device: persistence is off
        NotRegular,  // a folder, pipe, socket or block device: left alone
    };
    State state = State::Missing;
    HRESULT error = S_OK;  // Unreadable, NotRegular: the reason (errno mapped)
    RegParseReport parse;  // Read, Damaged
    bool NeedsKeepingAside() const {
        return state == State::Damaged || state == State::TooLarge || state == State::Unreadable;
    }
};

// Reads the file at path into store (merged with its content; what parses
// is used, also from a damaged file). When the lock is not had within
// `lockWait` the file is read without it (writers replace it by rename, so
// it is whole either way). Writes nothing but the lock file and never
// throws.
RegistryFileStatus ReadRegistryFile(const std::string& path, CRegistryStore& store,
                                    std::chrono::milliseconds lockWait = kRegistryLockWait);

struct RegistryUpdateResult {
    HRESULT error = S_OK;       // S_OK when the new file is in place (or persistence is off)
    RegistryFileStatus read;    // what the fresh read under the lock found
    std::string keptAside;      // the name the old file was kept under, or ""
    bool lockTimedOut = false;  // another program held the lock: nothing done
};

// Read-modify-write under the exclusive lock: reads the current file into a
// fresh store (as ReadRegistryFile), lets edit change it, writes the new text
// to a temporary file, flushes it, keeps a damaged or unreadable file aside
// and renames the temporary file over the path. Creates the missing folders
// of the path (mode 0700). When edit returns false nothing is written and
// the error is E_FAIL. When the path is a character device, edit runs on an
// empty store and nothing is written (S_OK, read.state Off). A path that is
// not a regular file fails with 0x80070057 (0x8007010B for a folder) before
// anything is opened. When the lock is not had within `lockWait`: nothing is
// read or written, lockTimedOut is set and the error is 0x800705B4. On any
// failure the file at path keeps its content, the temporary file is
// removed, and the error is returned. The new file keeps the permission
// bits of the old one. `keepAside`, when given, is read after edit ran:
// edit sets it to keep aside a file that parsed cleanly but whose content
// the caller found damaged.
RegistryUpdateResult UpdateRegistryFile(const std::string& path,
                                        const std::function<bool(CRegistryStore&)>& edit,
                                        std::chrono::milliseconds lockWait = kRegistryLockWait,
                                        const bool* keepAside = nullptr);
