#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// A system service that writes an image file as the data track of a blank medium. Windows offers
// one (IMAPI2, ImapiRecorderService); tests put a double in its place.
class DiscRecorderService
{
public:
    virtual ~DiscRecorderService() = default;

    // The recorders' unique ids; false with a reason when the service itself is missing.
    virtual bool ListRecorders(QStringList& ids, QString& reason) = 0;
    // The drive letters ("E:\\") and the device's name, for matching an address the user gave.
    virtual QStringList RecorderNames(const QString& id) = 0;
    // True when the recorder holds a blank medium the service can write.
    virtual bool HasWritableMedium(const QString& id, QString& reason) = 0;
    // Writes the file as the medium's only data track and closes the medium; blocks until the end.
    virtual bool WriteImage(const QString& id, const QString& imagePath, const std::function<void(int)>& percent,
                            const std::function<bool()>& cancelRequested, QString& reason) = 0;
};

// The system's service; tests replace it with SetRecorderServiceFactory.
std::unique_ptr<DiscRecorderService> CreateRecorderService();
void SetRecorderServiceFactory(std::function<std::unique_ptr<DiscRecorderService>()> factory);
