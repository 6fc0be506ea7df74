#pragma once
// Carries the update workers' questions to the user-interface thread and their answers back.
#include <QObject>
#include <QString>

#include "update/UpdateCheck.h"

class QWidget;

namespace umbra {

class UpdatePromptBridge : public QObject {
 public:
  // Lives on the thread that creates it, which must be the user-interface thread.
  explicit UpdatePromptBridge(QObject* parent);
  ~UpdatePromptBridge() override;

  // The window the questions belong to; call on the user-interface thread.
  static void setOwner(QWidget* owner);
  // True when a bridge exists.
  static bool installed();
  // Called on a worker: shows the offer's Yes/No question (or the message of a result or a failure
  // with its OK button) and waits for the answer (Yes is true). Without a bridge nothing is shown
  // and the answer is No. Once the bridge is gone an unanswered worker waits until the process ends.
  static bool ask(const QString& text, PromptKind kind);
  // Called on a worker: opens the address in the desktop's browser, without waiting.
  static void openHomePage(const QString& url);
};

}  // namespace umbra
