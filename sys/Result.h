#pragma once

#include <windows.h>

#include <cstdint>

// Why an operation did not do what it was asked: the causes a status text or an exit code tells apart.
enum class Failure : uint8_t {
    kNone,
    kUnknown,        // nothing tells why
    kFolderMissing,  // the output's folder does not exist
    kFileInUse,      // another program holds the output (or a file it needs) open
    kDiskFull,
    kAccessDenied,
    kNotAPicture,  // the source gave no image for a size
    kNoSource,     // the source is missing, unreadable or names nothing
    kNoTarget,     // no output name comes out of the target, or the target folder is unusable
    kNoIcon,       // the source has no icon to write (a window without one); not an error of the job
    kCancelled,
};

// The outcome of one operation: success, or a failure cause with the Windows error code where one exists.
class Result {
public:
    Result() = default;
    static Result Success() { return Result(); }
    static Result Failed(Failure cause, DWORD error = 0) {
        return Result(cause == Failure::kNone ? Failure::kUnknown : cause, error);
    }
    // A failure whose cause the Windows error code tells; kUnknown for codes no cause covers.
    static Result FromError(DWORD error);

    bool Ok() const { return failure_ == Failure::kNone; }
    explicit operator bool() const { return Ok(); }
    Failure Cause() const { return failure_; }
    DWORD Error() const { return error_; }

private:
    Result(Failure cause, DWORD error) : failure_(cause), error_(error) {}

    Failure failure_ = Failure::kNone;
    DWORD error_ = 0;
};
