// The framework's idle update: after every input event the program
// handles, once per turn of the event loop, every frame brings its
// commands' user interface up to date (CFrameWnd::UpdateCommandUI).
#pragma once

namespace tbm::ui {

class CFrameWnd;

// Frames take part from construction to destruction. The first one
// installs the input watch on the application.
void RegisterFrame(CFrameWnd* frame);
void UnregisterFrame(CFrameWnd* frame);

// Asks for one idle update of every frame on the next turn of the event
// loop; asks made before it runs are one.
void ScheduleIdleUpdate();

}  // namespace tbm::ui
