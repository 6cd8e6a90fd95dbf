#include "sys/ShellRun.h"

#include <shellapi.h>

#include "sys/Handles.h"

DWORD ShellRun(const wchar_t* file, const wchar_t* parameters, const wchar_t* verb) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // Failures are reported to the caller, which chooses the message; without SEE_MASK_FLAG_NO_UI the shell would
    // show its own error box and block until it is answered.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOW;
    // A declined elevation prompt fails with ERROR_CANCELLED.
    if (!ShellExecuteExW(&info)) return 0;
    // Documents opened by an already running program (DDE, single-instance handlers) give no process.
    KernelHandle process(info.hProcess);
    if (!process) return 1;
    DWORD id = GetProcessId(process.Get());
    return id != 0 ? id : 1;
}
