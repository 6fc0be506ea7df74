#include "BurnCommand.h"

#include "CCDBurner.h"

#include <QFile>
#include <QFileInfo>

#include <ostream>

namespace {

constexpr int kExitBurned = 0;
constexpr int kExitImageUnreadable = 2;
constexpr int kExitNotBurned = 4;
constexpr int kPercentStep = 10;

// Prints "<label>: N%" each time the percentage reaches the next step, so a log stays short.
std::function<void(int)> StepPrinter(std::ostream& out, const char* label)
{
    return [&out, label, next = 0](int percent) mutable {
        if (percent < next)
            return;
        out << label << ": " << percent << "%\n" << std::flush;
        next = (percent / kPercentStep + 1) * kPercentStep;
    };
}

} // namespace

int RunBurnCommand(const std::string& imagePath, const std::string& driveAddress, std::ostream& out,
                   std::ostream& err)
{
    const QString image = QString::fromStdString(imagePath);
    QFile probe(image);
    if (!QFileInfo(image).isFile() || !probe.open(QIODevice::ReadOnly)) {
        err << "Cannot open the image " << imagePath << ": "
            << (QFileInfo::exists(image) ? probe.errorString().toStdString() : "no such file") << '\n';
        return kExitImageUnreadable;
    }
    probe.close();

    CCDBurner::RemoveLeftoverCopies();
    CCDBurner burner;
    burner.SetDriveAddress(QString::fromStdString(driveAddress));
    BurnProgress progress;
    progress.copyPercent = StepPrinter(out, "Copying to the staging folder");
    progress.burnPercent = StepPrinter(out, "Writing to the disc");
    int code = BURN_SUCCESS;
    if (burner.BurnFile(image, code, progress)) {
        out << BurnResultMessage(code).toStdString() << '\n';
        return kExitBurned;
    }
    err << BurnResultMessage(code).toStdString() << '\n';
    if (!burner.LastError().isEmpty())
        err << burner.LastError().toStdString() << '\n';
    return kExitNotBurned;
}
