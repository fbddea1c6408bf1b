#pragma once

// What the programs ask of the X11 window system beyond the toolkit: staying out of the taskbar,
// and whether the desktop has a notification area.

class QWidget;

namespace qdx::ui {

// Marks a top-level window as one the taskbar does not list (_NET_WM_STATE_SKIP_TASKBAR). Called
// before the window is mapped it is written onto the window, afterwards the window manager is
// asked. Does nothing outside X11.
void setSkipTaskbar(QWidget* window);

// Whether the window's X11 state carries the skip-taskbar mark (false outside X11).
bool skipsTaskbar(QWidget* window);

} // namespace qdx::ui
