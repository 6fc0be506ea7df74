#pragma once

#include <QString>

#include <functional>

// Copies the image into the staging folder. The copy is written under a temporary name and renamed
// into place only when complete, so a failed or cancelled copy leaves neither a partial file nor a
// damaged file of the same name behind.
bool CopyIntoStaging(const QString& imagePath, const QString& stagedPath,
                     const std::function<void(int)>& percent,
                     const std::function<bool()>& cancelRequested, QString& reason);
