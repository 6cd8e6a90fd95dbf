#include "sys/Result.h"

Result Result::FromError(DWORD error) {
    switch (error) {
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_DRIVE:
            return Failed(Failure::kFolderMissing, error);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return Failed(Failure::kFileInUse, error);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Failed(Failure::kDiskFull, error);
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD:
            return Failed(Failure::kAccessDenied, error);
        case ERROR_CANCELLED:
            return Failed(Failure::kCancelled, error);
        default:
            return Failed(Failure::kUnknown, error);
    }
}
