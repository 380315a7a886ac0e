// Long texts in labels: a message may be a pasted text of any length without a blank.
#pragma once

#include <QString>

namespace pitch {

// The text with a zero-width space after every 40 characters of a run without blanks: a label
// can break the line there, and the text reads the same.
QString WithBreakOpportunities(const QString& text);

// The text cut to at most most characters, the cut marked "…", with break opportunities: for a
// notice that must stay a few lines high.
QString ShortNotice(const QString& text, qsizetype most);

}  // namespace pitch
