// The error kinds of pitch-autopilot. Every failure is one of these exceptions.
//
// Where errors are caught: nowhere below the front ends. The core, the number text, the storage
// and the analysis raise and never catch. The window catches at its handler boundary, and only
// there: each button and chart action is connected through ConnectGuarded, and the work of its
// event overrides (changeEvent, eventFilter) runs through RunGuarded (ui/error_sink.h); both hand
// the error to the frame's error display, and the window stays open. The desktop program's
// start-up catches the errors of start-up itself and ends with the start-up failure (exit 1);
// its application object's notify is the last-resort backstop for anything else that leaves an
// event handler. The command line catches the error that stops its calculation and each file's
// error in its run, and anything else in main's last resort (cli/run.h).
#pragma once

#include <stdexcept>
#include <string>

namespace pitch {

// Base of every error the program raises; holds the message shown to the user.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  // The class name, as shown in start-up failures and in the front end's JSON.
  virtual const char* ClassName() const noexcept = 0;
};

// Text that is not a number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

// Floating-point faults.
class EMathError : public Exception {
 public:
  using Exception::Exception;
};

class EInvalidOp : public EMathError {
 public:
  EInvalidOp() : EMathError("Invalid floating point operation") {}
  const char* ClassName() const noexcept override { return "EInvalidOp"; }
};

class EZeroDivide : public EMathError {
 public:
  EZeroDivide() : EMathError("Floating point division by zero") {}
  const char* ClassName() const noexcept override { return "EZeroDivide"; }
};

class EOverflow : public EMathError {
 public:
  EOverflow() : EMathError("Floating point overflow") {}
  const char* ClassName() const noexcept override { return "EOverflow"; }
};

// A step of writing the results file failed; ErrorCode is the platform-style code.
class EInOutError : public Exception {
 public:
  EInOutError(int code, const std::string& message) : Exception(message), ErrorCode(code) {}
  const char* ClassName() const noexcept override { return "EInOutError"; }
  int ErrorCode;
};

// A picture of the response chart could not be made (no memory for the image, painting or
// encoding failed, or no picture export in this program).
class EPlotError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EPlotError"; }
};

// A command line that a program cannot take: an unknown option, a missing value, a value that
// cannot be read. Shown on one line with where to read the usage (exit status 2).
class EUsageError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EUsageError"; }
};

// A line of a study's batch input that cannot be split into the header's fields.
class EParserError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EParserError"; }
};

// The message as the error display shows it: a full stop is appended when the last character
// has a code above that of the full stop (letters, digits, colon, question mark, any non-ASCII
// letter), and not after a full stop, comma, hyphen, parenthesis, quote, apostrophe, '!' or space.
// The text is UTF-8; every byte of a non-ASCII character is above 0x2E, so the last byte decides.
inline std::string WithFullStop(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > 0x2E) {
    message.push_back('.');
  }
  return message;
}

}  // namespace pitch
