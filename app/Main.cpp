#include <windows.h>
#include <objbase.h>

#include "app/Application.h"
#include "engine/Imaging.h"

namespace {

// COM for this thread (apartment model) for the whole run; uninitialised only when the start succeeded.
class ComApartment {
public:
    ComApartment() : started_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComApartment() {
        if (started_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool started_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandTail, int showMode) {
    ComApartment com;
    ImagingSession imaging;
    Application app;
    return app.RunApplication(instance, commandTail, showMode);
}
