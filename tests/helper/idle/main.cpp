// A program that starts like the helper (a window-less message loop, so that
// its starter's wait for input idle returns) and then never registers anything
// and never ends by itself: what a hung or foreign helper looks like.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::DispatchMessageW(&message);
    }
    return 0;
}
