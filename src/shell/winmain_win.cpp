#include <windows.h>

#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return vantor_main(); }
