#pragma once

#ifdef _WIN32
#include "DiscRecorderService.h"

// DiscRecorderService on Windows' own recording service, IMAPI2 (MsftDiscMaster2, MsftDiscRecorder2,
// MsftDiscFormat2Data), reached late-bound by ProgID and IDispatch: MinGW has no IMAPI headers.
// Each call runs in its own COM apartment, so any thread may use it.
class ImapiRecorderService : public DiscRecorderService
{
public:
    bool ListRecorders(QStringList& ids, QString& reason) override;
    QStringList RecorderNames(const QString& id) override;
    bool HasWritableMedium(const QString& id, QString& reason) override;
    bool WriteImage(const QString& id, const QString& imagePath, const std::function<void(int)>& percent,
                    const std::function<bool()>& cancelRequested, QString& reason) override;
};
#endif
