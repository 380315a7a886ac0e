// Start-up of the desktop program: the three objects, their links, the event loop, and what
// happens when start-up itself fails.
#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

namespace pitch {

class TFormBase;
class TController;
class TStorage;

// The three objects of the program, created once at start-up and never replaced. The program's
// design names them by these globals, so they are kept, but nothing reads them: the objects
// reach each other only through their links (ConnectController, ConnectBorder, ConnectStorage),
// which is also what lets the tests build a trio of their own.
extern TFormBase* FormBase;
extern TController* Controller;
extern TStorage* Storage;

// The application title from the program file's path: the name after the last '/', cut before
// its first full stop, every character after the first in lower case ("/opt/MyTool.Test.BIN"
// gives "Mytool"). It captions every error box.
QString ApplicationTitle(const QString& program_path);

// The text for an error that ends start-up: "Exception <class> in module <file> at <address>."
// and a line break, then the message, a full stop when it does not end with one, a line break.
std::string StartupFailureText(std::string_view class_name, std::string_view module,
                               const void* address, std::string_view message);

// The descriptors that must be free before Qt starts: the display connection, the event loop's
// wake-up descriptors, the fonts and translations it reads, the session bus: about seven, with
// room to spare.
inline constexpr std::size_t kStartupDescriptors = 16;
// The start-up error's message when fewer are free.
std::string TooFewDescriptorsMessage();

// Runs the program; returns the process's exit code: 0 after a normal end, 1 after a failure
// during start-up.
int RunApplication(int argc, char** argv);

}  // namespace pitch
