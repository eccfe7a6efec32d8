// Idle and memory floor: a process that only sleeps.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    for (;;) Sleep(INFINITE);
}
