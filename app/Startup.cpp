#include "app/Startup.h"

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/CommandRunner.h"
#include "app/MainWindow.h"
#include "app/Update.h"
#include "sys/Handles.h"
#include "sys/SystemInfo.h"

namespace {

// Starts the newer program that an update installed, with this run's arguments behind the marker it reads.
void RelaunchAfterUpdate(const Application& app, const wchar_t* commandTail, int showMode) {
    WideString arguments(L" /PostUpdate");
    if (commandTail && *commandTail) arguments.Append(L" ", commandTail);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showMode);
    PROCESS_INFORMATION process = {};
    CreateProcessW(app.programPath.Text(), const_cast<wchar_t*>(arguments.Text()), nullptr, nullptr, FALSE, 0, nullptr,
                   app.programFolder.Text(), &startup, &process);
    KernelHandle thread(process.hThread);
    KernelHandle started(process.hProcess);
}

void RunMainWindow(Application& app, const CommandOutcome& start, int showMode) {
    MainWindow main(app);
    // Without a display there is no window to show: the start ends as an empty run.
    if (!main.BuildMainWindow(start.preload, start.source)) return;
    main.Show(showMode);
    main.RunEventLoop();
    ShowWindow(app.mainWindow.window, SW_HIDE);
    while (app.NextEvent(false)) {
    }
}

}  // namespace

int RunApplication(Application& app, HINSTANCE instance, const wchar_t* commandTail, int showMode) {
    app.instance = instance;
    app.isWow64 = IsWow64(nullptr);
    app.BuildSystemPaths();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    const CommandOutcome start = RunCommandLine(app, ReadCommandLine(commandTail));
    if (!start.opensWindow) return static_cast<int>(start.exitCode);

    if (app.startedAfterUpdate) {
        RemoveUpdateLeftover(app.programPath);
    } else if (IsNewerVersionInstalled(app.programPath)) {
        RelaunchAfterUpdate(app, commandTail, showMode);
        return static_cast<int>(ExitCode::kSuccess);
    }
    app.isAdmin = IsUserAdmin();
    RunMainWindow(app, start, showMode);
    return static_cast<int>(ExitCode::kSuccess);
}
