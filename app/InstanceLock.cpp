#include "app/InstanceLock.h"

#include <QDir>
#include <QStandardPaths>

#ifdef _WIN32
#include <windows.h>
#else
#include <QLockFile>
#endif

namespace umbra {

InstanceLock::InstanceLock(const char* name) : m_name(name) {}

QString InstanceLock::folder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty() || !QDir().mkpath(folder))
    folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
  return folder;
}

#ifdef _WIN32

InstanceLock::~InstanceLock() {
  if (m_mutex) CloseHandle(m_mutex);
}

bool InstanceLock::tryAcquire() {
  // The mutex lives as long as a handle to it is open; only its existence matters.
  m_mutex = CreateMutexA(nullptr, FALSE, m_name);
  if (m_mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(m_mutex);
    m_mutex = nullptr;
    return false;
  }
  return true;  // without a mutex at all, running twice is better than not running
}

#else

InstanceLock::~InstanceLock() = default;

bool InstanceLock::tryAcquire() {
  m_file = std::make_unique<QLockFile>(QDir(folder()).filePath(QString::fromLatin1(m_name)));
  // A lock left by a copy that died is recognised by its dead process and taken over, whatever
  // its age; a running copy's lock is never stale.
  m_file->setStaleLockTime(0);
  return m_file->tryLock(0);
}

#endif

}  // namespace umbra
