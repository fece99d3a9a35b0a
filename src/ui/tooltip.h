// The program's one tooltip control, shared by every gadget (gadget_set_tooltip is in ui.h).
#pragma once
#include <windows.h>

HWND tooltip_handle();  // nullptr until the first tooltip is set
void tooltip_shutdown();  // destroys the control at program end
