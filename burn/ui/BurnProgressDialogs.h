#pragma once

#include <QString>

#include <atomic>

class QProgressDialog;
class QWidget;

namespace umbra {

// The modal progress windows of a burn: the copy into the staging folder, the writing, then the
// reading back of the disc.
// Lives on the user-interface thread; the burn's worker reaches it through queued calls.
class BurnProgressDialogs {
 public:
  BurnProgressDialogs(QWidget* owner, const QString& imageName);
  ~BurnProgressDialogs();
  BurnProgressDialogs(const BurnProgressDialogs&) = delete;
  BurnProgressDialogs& operator=(const BurnProgressDialogs&) = delete;

  // Shows the copy window while the recorder is looked for.
  void start();
  void showCopyPercent(int percent);
  void showBurnPercent(int percent);
  void showReadBackPercent(int percent);
  void closeAll();

  // Set from the Cancel button of the copy or the read-back window; read by the worker.
  bool cancelRequested() const { return m_cancel.load(); }

  // Owns the dialogs: queued calls aimed at it are dropped once it is gone.
  QWidget* anchor() const { return m_anchor; }

 private:
  QWidget* m_anchor;
  QProgressDialog* m_copy = nullptr;
  QProgressDialog* m_burn = nullptr;
  QProgressDialog* m_readBack = nullptr;
  QWidget* m_owner;
  QString m_imageName;
  std::atomic<bool> m_cancel{false};
};

}  // namespace umbra
