#include <windows.h>
#include <objbase.h>

#include "app/Application.h"
#include "app/Startup.h"
#include "engine/Imaging.h"
#include "sys/Handles.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandTail, int showMode) {
    // COM for this thread for the whole run.
    ComScope com;
    ImagingSession imaging;
    Application app;
    return RunApplication(app, instance, commandTail, showMode);
}
