#include "ui/long_text.h"

namespace pitch {

QString WithBreakOpportunities(const QString& text) {
  constexpr int kRun = 40;
  QString out;
  out.reserve(text.size() + text.size() / kRun);
  int run = 0;
  for (const QChar c : text) {
    out.append(c);
    run = c.isSpace() ? 0 : run + 1;
    if (run == kRun) {
      out.append(QChar(0x200B));
      run = 0;
    }
  }
  return out;
}

QString ShortNotice(const QString& text, qsizetype most) {
  if (text.size() <= most) {
    return WithBreakOpportunities(text);
  }
  return WithBreakOpportunities(text.left(most)) + QChar(0x2026);
}

}  // namespace pitch
