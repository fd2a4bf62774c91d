// Twinrake.exe: a GUI program without a console; it reads no command line.
#include <windows.h>

#include "app/app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return twinrake::RunTwinrake();
}
