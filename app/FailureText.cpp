#include "app/FailureText.h"

namespace {

constexpr wchar_t kAdminHint[] = L" 请尝试以管理员身份运行 Glyphwright.";

}  // namespace

WideString FailureLine(Failure cause, const FailureWording& wording, bool isAdmin) {
    switch (cause) {
        case Failure::kFolderMissing:
            return WideString::Concat(wording.failed, wording.folderMissing);
        case Failure::kFileInUse:
            return WideString::Concat(wording.failed, wording.fileInUse);
        case Failure::kDiskFull:
            return WideString::Concat(wording.failed, wording.diskFull);
        case Failure::kAccessDenied:
            return WideString::Concat(wording.failed, wording.accessDenied, isAdmin ? L"" : kAdminHint);
        case Failure::kNotAPicture:
        case Failure::kNoIcon:
            return WideString::Concat(wording.failed, wording.notAPicture);
        case Failure::kNone:
        case Failure::kUnknown:
        case Failure::kNoSource:
        case Failure::kNoTarget:
        case Failure::kCancelled:
            break;
    }
    return WideString(wording.unknown);
}
