#pragma once

class QWidget;

// Tells an X11 window manager that window may only be moved: no minimise, maximise, resize or
// close, neither as a button nor as a command (openbox, xfwm4 and KWin honour it). Needs the
// native window; does nothing on other platforms.
void AllowOnlyMoving(QWidget* window);
