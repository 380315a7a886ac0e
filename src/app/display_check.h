// Whether Qt can open a display for the window here. Qt's own failure to find or start a
// platform plugin ends the process with an abort; the frame asks first, so that it can end with
// its start-up failure instead.
#pragma once

#include <optional>
#include <string>

namespace pitch {

// What stands in the way of showing a window, in words, or nothing when one of the platforms
// that Qt would try (the -platform argument, else QT_QPA_PLATFORM, else xcb) can be opened: its
// plugin is installed and, for xcb, the X server named by -display or DISPLAY answers. Other
// platforms are taken as usable when their plugin is there.
std::optional<std::string> DisplayProblem(int argc, char** argv);

// "No display to show the window on (<reason>)" and where to turn without one.
std::string NoDisplayMessage(const std::string& reason);

}  // namespace pitch
