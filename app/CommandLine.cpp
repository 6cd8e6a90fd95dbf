#include "app/CommandLine.h"

#include "app/Application.h"

int ParseCommandLine(Application&, const wchar_t*, WideString&, WideString&, WideString&) { return 0; }
