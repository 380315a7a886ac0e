// Text from the user (arguments, file names, CSV fields) inside a message for a terminal: a
// control character could move the cursor, recolour the screen or start an escape sequence, and
// a NUL byte would end the message early, so each is shown as an escape instead.
#pragma once

#include <string>
#include <string_view>

namespace pitch::study {

// C0 controls (NUL, ESC, line ends, …) and DEL as \xHH, the C1 controls U+0080 … U+009F in
// UTF-8 as \u00HH, a backslash as \\; every other byte as it is.
std::string EscapedText(std::string_view text);

}  // namespace pitch::study
