// Text from the user (arguments, file names, CSV fields, a results file's numbers) inside a
// message for a terminal or a dialog: a control character could move the cursor, recolour the
// screen or start an escape sequence, and a NUL byte would end the message early, so each is
// shown as an escape instead.
#pragma once

#include <string>
#include <string_view>

namespace pitch {

// C0 controls (NUL, ESC, line ends, …) and DEL as \xHH, the C1 controls U+0080 … U+009F in
// UTF-8 as \u00HH; every other byte as it is, the backslash too. The escapes are for the eye, not
// to be decoded back: text escaped once passes through again unchanged, so a message that holds
// escaped text can be escaped again where it is shown.
std::string EscapedText(std::string_view text);

}  // namespace pitch
