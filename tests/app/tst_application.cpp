// The application object's backstop: an exception that leaves an event handler outside any
// guarded connection is shown by the error display, and the event loop goes on.
#include <QLabel>
#include <QMessageBox>
#include <QTranslator>
#include <QtTest>
#include <memory>
#include <new>

#include "app/application.h"
#include "app/error_display.h"
#include "app/translations.h"
#include "core/errors.h"

using namespace pitch;

namespace {

class RecordingBox : public IMessageBox {
 public:
  void ShowCritical(QWidget*, const QString& caption, const QString& text) override {
    shown.append(caption + QLatin1Char('|') + text);
  }
  QStringList shown;
};

// Throws from its event handler on the first `failures` user events, then handles them.
class Thrower : public QObject {
 public:
  enum Kind { kBadAlloc, kOverflow };
  Kind kind = kBadAlloc;
  int failures = 0;
  int handled = 0;

 protected:
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) {
      return QObject::event(e);
    }
    if (failures > 0) {
      --failures;
      if (kind == kBadAlloc) {
        throw std::bad_alloc();
      }
      throw EOverflow();
    }
    ++handled;
    return true;
  }
};

}  // namespace

class TestApplication : public QObject {
  Q_OBJECT

 private slots:
  void escapingExceptionsAreShownAndTheLoopGoesOn_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("shown");
    QTest::newRow("out of memory") << int(Thrower::kBadAlloc) << "Tst|std::bad_alloc.";
    QTest::newRow("error of the program")
        << int(Thrower::kOverflow) << "Tst|Floating point overflow.";
  }
  void escapingExceptionsAreShownAndTheLoopGoesOn() {
    QFETCH(int, kind);
    QFETCH(QString, shown);
    RecordingBox box;
    TErrorDisplay errors(box, QStringLiteral("Tst"));
    auto* app = static_cast<TApplication*>(QCoreApplication::instance());
    app->SetErrorSink(&errors);
    Thrower thrower;
    thrower.kind = static_cast<Thrower::Kind>(kind);
    thrower.failures = 2;

    // Sent directly: notify reports it and answers "not handled".
    QEvent sent(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&thrower, &sent));
    // Posted: the event loop delivers it, reports it, and goes on to the next event.
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    QCOMPARE(box.shown, QStringList({shown, shown}));
    QCOMPARE(thrower.handled, 1);
    app->SetErrorSink(nullptr);
  }

  // The error box shows the message exactly: as plain text, and wrapped rather than cut.
  void errorBoxShowsTheTextAsItIs_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("markup") << "'<b>x</b><br>y' is not a valid floating point value.";
    QTest::newRow("401 characters")
        << "'" + QString(401, QLatin1Char('7')) + "x' is not a valid floating point value.";
    QTest::newRow("short") << "Floating point overflow.";
  }
  void errorBoxShowsTheTextAsItIs() {
    QFETCH(QString, text);
    const std::unique_ptr<QMessageBox> box = QtMessageBox::Build(nullptr, "Tst", text);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(box->text().remove(QChar(0x200B)), text);
    QCOMPARE(box->windowTitle(), QStringLiteral("Tst"));
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QCOMPARE(box->standardButtons(), QMessageBox::Ok);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label != nullptr);
    // Every line of the wrapped text fits the label: nothing is cut.
    const QRect needed = QFontMetrics(label->font())
                             .boundingRect(QRect(0, 0, label->contentsRect().width(), 100000),
                                           Qt::TextWordWrap, label->text());
    QVERIFY2(needed.width() <= label->contentsRect().width() &&
                 needed.height() <= label->contentsRect().height(),
             qPrintable(QStringLiteral("%1x%2 in %3x%4")
                            .arg(needed.width())
                            .arg(needed.height())
                            .arg(label->contentsRect().width())
                            .arg(label->contentsRect().height())));
    QVERIFY(box->width() <= 800);
  }

  // Qt's own texts speak the window's language.
  void qtTextsAreRussian() {
    QTranslator translator;
    QVERIFY(LoadQtTranslations(translator));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Отмена"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"),
             QStringLiteral("Сохранить как"));
    QCoreApplication::removeTranslator(&translator);
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TestApplication test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
