// The real program started while a copy runs: the second ends at once, silently, with status 0;
// a copy that died leaves no lock that stops the next start.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#ifdef _WIN32
#include <windows.h>
#endif

class TestSingleInstance : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_runtime;
  QString m_program;

  void startProgram(QProcess& process) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());  // a lock of our own
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(m_program, {});
    QVERIFY(process.waitForStarted());
  }

  static constexpr const char* kInstanceName = "UMBRADISC-MUTEX-5865D6512";

  QString lockPath() const { return QDir(m_runtime.path()).filePath(QString::fromLatin1(kInstanceName)); }

  // Whether a running copy holds the lock: the named mutex on Windows, the lock file elsewhere.
  bool instanceHeld() const {
#ifdef _WIN32
    const HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kInstanceName);
    if (mutex) CloseHandle(mutex);
    return mutex != nullptr;
#else
    return QFile::exists(lockPath());
#endif
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_runtime.isValid());
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_program = QCoreApplication::applicationDirPath() + QStringLiteral("/umbradisc");  // built beside the tests
#ifdef _WIN32
    m_program += QStringLiteral(".exe");
#endif
    QVERIFY2(QFile::exists(m_program), qPrintable(m_program));
  }

  void secondCopyEndsSilentlyAndStaleLockDoesNotBlock() {
    QProcess first;
    startProgram(first);
    QTRY_VERIFY_WITH_TIMEOUT(instanceHeld(), 10000);

    QProcess second;
    startProgram(second);
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardOutput(), QByteArray());
    QCOMPARE(second.readAllStandardError(), QByteArray());
    QCOMPARE(first.state(), QProcess::Running);

    // The first copy dies without cleaning up: its lock file stays behind (a mutex goes with it).
    first.kill();
    QVERIFY(first.waitForFinished(10000));
#ifndef _WIN32
    QVERIFY(QFile::exists(lockPath()));
#endif

    QProcess third;
    startProgram(third);
    QVERIFY2(!third.waitForFinished(2000), "a copy started after a crash runs");
    third.kill();
    QVERIFY(third.waitForFinished(10000));
  }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
