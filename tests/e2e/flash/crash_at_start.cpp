// A start-up program that crashes the handheld as a program does that waits
// with interrupts masked: the handheld's control line offers no way to crash
// it, and doctor's whole run needs a handheld that has crashed.
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

extern "C" NUVA_EXPORT int WinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    INTERRUPTS_OFF();
    Sleep(1);
    return 0;
}
