// Result codes of the image operations and the per-file pipeline.
//
// The codes keep the Windows HRESULT values so that messages, tests and
// stored records agree across platforms: S_OK, S_FALSE (success with a
// remark), E_* failures, and operating-system errors as 0x8007xxxx where
// xxxx is the Windows error number that matches the errno value.
#pragma once

#include <cstdint>

using HRESULT = std::int32_t;

constexpr HRESULT MakeHResult(std::uint32_t value) {
    return static_cast<HRESULT>(value);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004u);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005u);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);
// Bytes that no decoder reads as an image, or an image whose data is
// corrupt: "not an image file".
constexpr HRESULT E_NOT_IMAGE_FILE = MakeHResult(0x88982F07u);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// Windows error numbers the program produces or maps errno values to.
enum WinError : std::uint32_t {
    ERROR_SUCCESS = 0,
    ERROR_INVALID_FUNCTION = 1,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_PATH_NOT_FOUND = 3,
    ERROR_TOO_MANY_OPEN_FILES = 4,
    ERROR_ACCESS_DENIED = 5,
    ERROR_NOT_ENOUGH_MEMORY = 8,
    ERROR_INVALID_DATA = 13,
    ERROR_OUTOFMEMORY = 14,
    ERROR_WRITE_PROTECT = 19,
    ERROR_SHARING_VIOLATION = 32,
    ERROR_HANDLE_EOF = 38,
    ERROR_FILE_EXISTS = 80,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_BROKEN_PIPE = 109,
    ERROR_DISK_FULL = 112,
    ERROR_INVALID_NAME = 123,
    ERROR_DIR_NOT_EMPTY = 145,
    ERROR_BUSY = 170,
    ERROR_ALREADY_EXISTS = 183,
    ERROR_FILENAME_EXCED_RANGE = 206,
    ERROR_FILE_TOO_LARGE = 223,
    ERROR_DIRECTORY = 267,
    ERROR_IO_DEVICE = 1117,
    ERROR_TIMEOUT = 1460,
    ERROR_RESOURCE_NAME_NOT_FOUND = 1814,
    ERROR_CANT_RESOLVE_FILENAME = 1921,
};

// HRESULT_FROM_WIN32: 0 stays 0; other numbers become 0x8007 followed by
// their low 16 bits.
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t error) {
    return error == 0 ? S_OK : MakeHResult((error & 0xFFFFu) | 0x80070000u);
}

// The Windows error number that matches an errno value (EIO and unknown
// values map to ERROR_INVALID_FUNCTION's neighbour ERROR_IO_DEVICE / 1).
std::uint32_t Win32ErrorFromErrno(int err);

// HRESULT_FROM_WIN32(Win32ErrorFromErrno(err)); 0 stays S_OK.
HRESULT HResultFromErrno(int err);

// The errno value that Win32ErrorFromErrno maps to error (the first of its
// cases, e.g. EACCES for ERROR_ACCESS_DENIED); 0 when none maps to it.
int ErrnoFromWin32Error(std::uint32_t error);
