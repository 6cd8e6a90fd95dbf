#pragma once

#include "engine/OutputNaming.h"
#include "sys/Result.h"
#include "sys/WideString.h"

// How a page words the causes of a write that failed; each page keeps its own texts.
struct FailureWording {
    const wchar_t* failed;   // the start of the line, which the cause follows
    const wchar_t* unknown;  // the whole line when nothing tells why
    const wchar_t* folderMissing;
    const wchar_t* fileInUse;
    const wchar_t* diskFull;
    const wchar_t* accessDenied;
    const wchar_t* notAPicture;
};

// The page's line for a failure of this cause. Administrator rights are suggested only for a refused access, and
// only to a user who lacks them: for any other cause they would send the user the wrong way. A window without icons
// is worded as a source that gave no image.
WideString FailureLine(Failure cause, const FailureWording& wording, bool isAdmin);
