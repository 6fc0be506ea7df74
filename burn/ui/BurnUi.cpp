#include "BurnUi.h"

#include "BurnProgressDialogs.h"
#include "CCDBurner.h"
#include "controls/TitleRoom.h"

#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <filesystem>

namespace {

constexpr char kCaption[] = "Umbradisc";
constexpr char kImageFilter[] = "CD Files (*.iso);;All Files (*.*)";
constexpr char kImageSuffix[] = "iso";

std::function<QString(QWidget*)>& Chooser()
{
    static std::function<QString(QWidget*)> chooser;
    return chooser;
}

} // namespace

const char* const kBurnNotSupportedMessage =
    "This system does not support burning CDs. You can use another tool to burn the CD image file to a CD.";

bool IsBurnSupported()
{
    return IsBurnAvailable();
}

void SetImageChooser(std::function<QString(QWidget*)> chooser)
{
    Chooser() = std::move(chooser);
}

QString ChooseImageToBurn(QWidget* owner, const QString& current)
{
    if (Chooser())
        return Chooser()(owner);
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromLatin1(kImageFilter));
    dialog.setDefaultSuffix(QString::fromLatin1(kImageSuffix));
    if (!current.isEmpty()) {
        dialog.setDirectory(QFileInfo(current).absolutePath());
        dialog.selectFile(QFileInfo(current).fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

bool BurnImage(QWidget* owner, const QString& imagePath)
{
    BurnProgressDialogs dialogs(owner, QFileInfo(imagePath).fileName());
    QWidget* anchor = dialogs.Anchor();
    BurnProgress progress;
    // The worker only posts; every widget is touched on this thread.
    progress.copyPercent = [&dialogs, anchor](int percent) {
        QMetaObject::invokeMethod(anchor, [&dialogs, percent] { dialogs.ShowCopyPercent(percent); },
                                  Qt::QueuedConnection);
    };
    progress.burnPercent = [&dialogs, anchor](int percent) {
        QMetaObject::invokeMethod(anchor, [&dialogs, percent] { dialogs.ShowBurnPercent(percent); },
                                  Qt::QueuedConnection);
    };
    progress.cancelRequested = [&dialogs] { return dialogs.CancelRequested(); };

    CCDBurner burner;
    int code = BURN_SUCCESS;
    bool burned = false;
    // The path in the system's own form: on Windows its wide characters (encodeName would go
    // through the ANSI code page and lose any character outside it), elsewhere the file name bytes.
#ifdef Q_OS_WIN
    const std::filesystem::path image = imagePath.toStdWString();
#else
    const std::filesystem::path image = QFile::encodeName(imagePath).toStdString();
#endif
    QThread* worker = QThread::create([&] { burned = burner.BurnFile(image, code, progress); });
    QEventLoop loop;
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    dialogs.Start();
    worker->start();
    loop.exec(); // the progress windows are modal, so only they take input meanwhile
    worker->wait();
    delete worker;
    dialogs.CloseAll();

    QMessageBox box(QMessageBox::Information, QString::fromLatin1(kCaption),
                    QString::fromStdString(BurnResultMessage(code)),
                    QMessageBox::Ok, owner);
    umbra::MakeRoomForTitle(box);
    box.exec();
    return burned;
}
