// The file dialogs decide icons, types and sizes by names and attributes, never by reading a
// file: a file such as /proc/kmsg (for root) or a FIFO without a writer blocks its reader for
// good.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <fstream>

#include "ui/file_icons.h"
#include "ui/save_dialog.h"

using namespace pitch;

class TestFileIcons : public QObject {
  Q_OBJECT

 private slots:
  // The provider never opens a file, whatever its name: a regular file that blocks its reader
  // (/proc/kmsg) is decided by name like any other. An inotify watch sees every open.
  void filesAreNeverOpened_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("no suffix, as kmsg") << "kmsg";
    QTest::newRow("unknown suffix") << "data.q7z";
    QTest::newRow("known suffix") << "notes.txt";
  }
  void filesAreNeverOpened() {
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    std::ofstream(QFile::encodeName(path).toStdString()) << "%PDF-1.4\n";
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(path).constData(), IN_OPEN) >= 0);
    TNameOnlyIconProvider provider;
    const QFileInfo info(path);
    QVERIFY(!provider.icon(info).isNull());
    QVERIFY(!provider.type(info).isEmpty());
    char events[4096];
    const ssize_t got = ::read(watch, events, sizeof events);
    ::close(watch);
    QVERIFY2(got < 0 && errno == EAGAIN, "the provider opened the file");
  }

  // Types follow the name, not the content: a PNG's bytes under a .txt name are a TXT file.
  void typesFollowTheName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("type");
    QTest::newRow("png bytes named .txt")
        << "a.txt" << QByteArray("\x89PNG\r\n\x1a\n", 8) << "TXT File";
    QTest::newRow("pdf bytes without a suffix") << "report" << QByteArray("%PDF-1.4\n") << "File";
    QTest::newRow("a folder") << "sub/" << QByteArray() << "Folder";
  }
  void typesFollowTheName() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, type);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (name.endsWith(QLatin1Char('/'))) {
      QVERIFY(QDir(dir.path()).mkdir(name.chopped(1)));
    } else {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(content);
    }
    QCOMPARE(TNameOnlyIconProvider().type(QFileInfo(path)), type);
  }

  // The program's dialogs use the provider and show sizes through the size proxy.
  void dialogsUseTheProvider() {
    const std::unique_ptr<QFileDialog> dialog =
        MakeSaveFileDialog(nullptr, QString(), TSaveDialog::Filters());
    QVERIFY(dynamic_cast<TNameOnlyIconProvider*>(dialog->iconProvider()) != nullptr);
    QVERIFY(dynamic_cast<TFileSizeProxy*>(dialog->proxyModel()) != nullptr);
    QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
  }

  // A folder holding a FIFO without a writer lists in the dialog, with its size and type.
  void dialogListsAFolderWithAFifo() {
    QTemporaryDir dir;
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("kmsg"))).constData(), 0600),
             0);
    std::ofstream(QFile::encodeName(dir.filePath(QStringLiteral("r.txt"))).toStdString()) << "abc";
    const std::unique_ptr<QFileDialog> dialog =
        MakeSaveFileDialog(nullptr, QString(), {QStringLiteral("Все файлы (*)")});
    dialog->setFilter(dialog->filter() | QDir::System);  // FIFOs are listed too
    dialog->setDirectory(dir.path());
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QAbstractProxyModel* model = dialog->proxyModel();
    auto* files = qobject_cast<QFileSystemModel*>(model->sourceModel());
    QVERIFY(files != nullptr);
    const auto root = [&] { return model->mapFromSource(files->index(dir.path())); };
    QTRY_COMPARE(model->rowCount(root()), 2);
    // Each row gets its type from the provider on Qt's gatherer thread: a provider that opened
    // the FIFO would leave its type empty for good.
    const auto column = [&](int c) {
      QStringList texts;
      for (int row = 0; row < 2; ++row) {
        texts << model->index(row, c, root()).data().toString();
      }
      std::sort(texts.begin(), texts.end());
      return texts;
    };
    QTRY_COMPARE(column(2), QStringList({"File", "TXT File"}));
    const QStringList sizes = column(1);
    QVERIFY2(sizes.contains(QStringLiteral("3 byte(s)")), qPrintable(sizes.join(" | ")));
  }
};

QTEST_MAIN(TestFileIcons)
#include "tst_file_icons.moc"
