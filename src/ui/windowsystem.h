#pragma once

namespace mojitan {

// On a Wayland desktop, picks how the window reaches the screen, unless QT_QPA_PLATFORM says
// so already. Must run before the application object is made.
void chooseWindowSystem();

} // namespace mojitan
