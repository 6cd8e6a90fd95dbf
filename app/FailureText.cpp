#include "app/FailureText.h"

namespace {

constexpr wchar_t kAdminHint[] = L" 请尝试以管理员身份运行 Glyphwright.";

}  // namespace

WideString FailureLine(OutputFailure cause, const FailureWording& wording, bool isAdmin) {
    switch (cause) {
        case OutputFailure::kFolderMissing:
            return WideString::Concat(wording.failed, wording.folderMissing);
        case OutputFailure::kFileInUse:
            return WideString::Concat(wording.failed, wording.fileInUse);
        case OutputFailure::kDiskFull:
            return WideString::Concat(wording.failed, wording.diskFull);
        case OutputFailure::kAccessDenied:
            return WideString::Concat(wording.failed, wording.accessDenied, isAdmin ? L"" : kAdminHint);
        case OutputFailure::kNotAPicture:
            return WideString::Concat(wording.failed, wording.notAPicture);
        case OutputFailure::kUnknown:
            break;
    }
    return WideString(wording.unknown);
}
