#include "msg/Result.h"

#include <cerrno>

std::uint32_t Win32ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ERROR_ACCESS_DENIED;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case EISDIR:
            return ERROR_DIRECTORY;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EBUSY:
            return ERROR_BUSY;
        case EPIPE:
            return ERROR_BROKEN_PIPE;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case EIO:
            return ERROR_IO_DEVICE;
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        case ETIMEDOUT:
            return ERROR_TIMEOUT;
        default:
            return ERROR_INVALID_FUNCTION;
    }
}

HRESULT HResultFromErrno(int err) {
    return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
}

int ErrnoFromWin32Error(std::uint32_t error) {
    // The errno values Win32ErrorFromErrno names, in the order of its cases.
    static constexpr int kMapped[] = {ENOENT,       ENOTDIR, EACCES,    EPERM,  ENOMEM, EMFILE,
                                      ENFILE,       EEXIST,  ENOSPC,    EDQUOT, EROFS,  EINVAL,
                                      ENAMETOOLONG, EISDIR,  ENOTEMPTY, EBUSY,  EPIPE,  ELOOP,
                                      EIO,          EFBIG,   ETIMEDOUT};
    for (int err : kMapped) {
        if (Win32ErrorFromErrno(err) == error) {
            return err;
        }
    }
    return 0;
}
