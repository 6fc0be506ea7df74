#include "StagingCopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>
#include <vector>

namespace {

constexpr qint64 kChunkSize = 1 << 20;
constexpr int kPercentDone = 100;

int PercentOf(qint64 done, qint64 total)
{
    return total > 0 ? static_cast<int>(done * kPercentDone / total) : kPercentDone;
}

} // namespace

bool CopyIntoStaging(const QString& imagePath, const QString& stagedPath,
                     const std::function<void(int)>& percent,
                     const std::function<bool()>& cancelRequested, QString& reason)
{
    const QFileInfo image(imagePath);
    QFile source(imagePath);
    if (!image.isFile() || !source.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("Cannot open %1: %2")
                     .arg(imagePath, image.exists() && !image.isFile() ? QStringLiteral("not a file")
                                                                       : source.errorString());
        return false;
    }
    const QFileInfo staged(stagedPath);
    // Staging the image onto itself would end with the image deleted after the burn.
    if (staged.exists() && staged.canonicalFilePath() == image.canonicalFilePath()) {
        reason = QStringLiteral("%1 already lies in the staging folder").arg(imagePath);
        return false;
    }
    const QString folder = staged.absolutePath();
    if (!QDir().mkpath(folder)) {
        reason = QStringLiteral("Cannot create the staging folder %1").arg(folder);
        return false;
    }
    QTemporaryFile copy(folder + QStringLiteral("/.") + staged.fileName() + QStringLiteral(".XXXXXX"));
    if (!copy.open()) {
        reason = QStringLiteral("Cannot write into %1: %2").arg(folder, copy.errorString());
        return false;
    }

    const qint64 total = source.size();
    qint64 done = 0;
    int shown = 0;
    if (percent)
        percent(0);
    std::vector<char> buffer(static_cast<size_t>(kChunkSize));
    for (;;) {
        const qint64 got = source.read(buffer.data(), kChunkSize);
        if (got < 0) {
            reason = QStringLiteral("Cannot read %1: %2").arg(imagePath, source.errorString());
            return false;
        }
        if (got == 0)
            break;
        if (cancelRequested && cancelRequested()) {
            reason = QStringLiteral("The copy into the staging folder was cancelled");
            return false;
        }
        if (copy.write(buffer.data(), got) != got) {
            reason = QStringLiteral("Cannot write %1: %2").arg(copy.fileName(), copy.errorString());
            return false;
        }
        done += got;
        if (percent && PercentOf(done, total) > shown) {
            shown = PercentOf(done, total);
            percent(shown);
        }
    }
    if (!copy.flush()) {
        reason = QStringLiteral("Cannot write %1: %2").arg(copy.fileName(), copy.errorString());
        return false;
    }
    copy.close();

#ifdef _WIN32
    // A QTemporaryFile keeps its handle after close() on Windows, which blocks a rename from outside;
    // its own rename lets go of it first. It replaces nothing, so a stale copy goes first.
    if (QFileInfo::exists(stagedPath) && !QFile::remove(stagedPath)) {
        reason = QStringLiteral("Cannot place the copy at %1: the old file cannot be removed").arg(stagedPath);
        return false;
    }
    if (!copy.rename(stagedPath)) {
        reason = QStringLiteral("Cannot place the copy at %1: %2").arg(stagedPath, copy.errorString());
        return false;
    }
#else
    // rename() replaces a same-named entry itself (even a link), never the file a link points to.
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(copy.fileName().toStdU16String()),
                            std::filesystem::path(stagedPath.toStdU16String()), error);
    if (error) {
        reason = QStringLiteral("Cannot place the copy at %1: %2")
                     .arg(stagedPath, QString::fromStdString(error.message()));
        return false;
    }
#endif
    copy.setAutoRemove(false);
    if (percent && shown < kPercentDone)
        percent(kPercentDone);
    return true;
}
