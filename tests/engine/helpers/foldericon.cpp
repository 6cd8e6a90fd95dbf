// A child program for the folder icon checks with independent readers. Modes:
//   set FOLDER SOURCE INDEX   gives the folder its icon; exit code 0 on success, 1 on failure
//   reset FOLDER              resets the folder's icon; exit code 0
// Exit code 2 for a wrong command line or when the imaging library does not start.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include "engine/FolderIcon.h"
#include "engine/Imaging.h"
#include "sys/Handles.h"

int main() {
    int count = 0;
    LocalMemoryHandle arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments) return 2;
    wchar_t** argv = static_cast<wchar_t**>(arguments.Get());
    CoInitialize(nullptr);
    int code = 2;
    {
        ImagingSession imaging;
        if (!imaging.Started()) {
            code = 2;
        } else if (count == 5 && lstrcmpW(argv[1], L"set") == 0) {
            code = SetFolderIcon(WideString(argv[2]), WideString(argv[3]), _wtoi(argv[4])) ? 0 : 1;
        } else if (count == 3 && lstrcmpW(argv[1], L"reset") == 0) {
            code = ResetFolderIcon(WideString(argv[2])) ? 0 : 1;
        }
    }
    CoUninitialize();
    return code;
}
