#include "ImapiRecorderService.h"

#ifdef _WIN32
#include "DispatchObject.h"

#include <objidl.h>
#include <shlwapi.h>

#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using com::DispatchObject;
using com::Variant;

constexpr long kSectorBytes = 2048;

QString Failed(const char* what, HRESULT result)
{
    return QString::fromLatin1(what) + QStringLiteral(" failed: ") + QString::fromStdString(com::describeResult(result));
}

std::wstring Wide(const QString& text) { return text.toStdWString(); }

// The recorder with this id, initialised; empty with a reason otherwise.
DispatchObject OpenRecorder(const QString& id, QString& reason)
{
    HRESULT result = S_OK;
    DispatchObject recorder = DispatchObject::create(L"IMAPI2.MsftDiscRecorder2", &result);
    if (recorder)
        result = recorder.call(L"InitializeDiscRecorder", {Variant(Wide(id))});
    if (FAILED(result)) {
        reason = Failed("IMAPI2 recorder", result);
        return {};
    }
    return recorder;
}

// A data writer bound to the recorder; empty with a reason otherwise.
DispatchObject OpenWriter(const DispatchObject& recorder, QString& reason)
{
    HRESULT result = S_OK;
    DispatchObject writer = DispatchObject::create(L"IMAPI2.MsftDiscFormat2Data", &result);
    if (writer)
        result = writer.putReference(L"Recorder", Variant(recorder.get()));
    if (SUCCEEDED(result))
        result = writer.putProperty(L"ClientName", Variant(std::wstring(L"Umbradisc")));
    if (FAILED(result)) {
        reason = Failed("IMAPI2 data writer", result);
        return {};
    }
    return writer;
}

} // namespace

std::unique_ptr<DiscRecorderService> CreateSystemRecorderService()
{
    return std::make_unique<ImapiRecorderService>();
}

bool ImapiRecorderService::ListRecorders(QStringList& ids, QString& reason)
{
    const com::Apartment apartment;
    HRESULT result = S_OK;
    const DispatchObject master = DispatchObject::create(L"IMAPI2.MsftDiscMaster2", &result);
    if (!master) {
        reason = QStringLiteral("the system's recording service (IMAPI2) is not available: ")
                 + QString::fromStdString(com::describeResult(result));
        return false;
    }
    Variant supported, count;
    result = master.getProperty(L"IsSupportedEnvironment", &supported);
    if (SUCCEEDED(result) && !supported.toBool()) {
        reason = QStringLiteral("the system's recording service (IMAPI2) finds no usable recorder here");
        return false;
    }
    if (SUCCEEDED(result))
        result = master.getProperty(L"Count", &count);
    for (long i = 0; SUCCEEDED(result) && i < count.toLong(); ++i) {
        Variant id;
        result = master.getProperty(L"Item", &id, {Variant(i)});
        if (SUCCEEDED(result))
            ids << QString::fromStdWString(id.toText());
    }
    if (FAILED(result)) {
        reason = Failed("listing the recorders", result);
        return false;
    }
    return true;
}

QStringList ImapiRecorderService::RecorderNames(const QString& id)
{
    const com::Apartment apartment;
    QString ignored;
    const DispatchObject recorder = OpenRecorder(id, ignored);
    QStringList names;
    if (!recorder)
        return names;
    Variant paths, product;
    if (SUCCEEDED(recorder.getProperty(L"VolumePathNames", &paths)))
        for (const std::wstring& path : paths.toTextList())
            names << QString::fromStdWString(path);
    if (SUCCEEDED(recorder.getProperty(L"ProductId", &product)))
        names << QString::fromStdWString(product.toText()).trimmed();
    return names;
}

bool ImapiRecorderService::HasWritableMedium(const QString& id, QString& reason)
{
    const com::Apartment apartment;
    const DispatchObject recorder = OpenRecorder(id, reason);
    if (!recorder)
        return false;
    const DispatchObject writer = OpenWriter(recorder, reason);
    if (!writer)
        return false;
    Variant supported, blank;
    HRESULT result = writer.call(L"IsCurrentMediaSupported", {Variant(recorder.get())}, &supported);
    if (SUCCEEDED(result) && !supported.toBool()) {
        reason = QStringLiteral("the medium in the drive cannot be written (or there is none)");
        return false;
    }
    if (SUCCEEDED(result))
        result = writer.getProperty(L"MediaHeuristicallyBlank", &blank);
    if (FAILED(result)) {
        reason = Failed("checking the medium", result);
        return false;
    }
    if (!blank.toBool()) {
        reason = QStringLiteral("the medium in the drive is not blank");
        return false;
    }
    return true;
}

bool ImapiRecorderService::WriteImage(const QString& id, const QString& imagePath, const std::function<void(int)>& percent,
                                      const std::function<bool()>& cancelRequested, QString& reason)
{
    const com::Apartment apartment;
    const DispatchObject recorder = OpenRecorder(id, reason);
    if (!recorder)
        return false;
    const DispatchObject writer = OpenWriter(recorder, reason);
    if (!writer)
        return false;
    Variant freeSectors;
    if (SUCCEEDED(writer.getProperty(L"FreeSectorsOnMedia", &freeSectors))
        && QFileInfo(imagePath).size() > static_cast<qint64>(freeSectors.toLong()) * kSectorBytes) {
        reason = imagePath + QStringLiteral(": the image is larger than the free space on the medium");
        return false;
    }
    IStream* stream = nullptr;
    HRESULT result = SHCreateStreamOnFileEx(Wide(imagePath).c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                            FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream);
    if (FAILED(result)) {
        reason = imagePath + QStringLiteral(": ") + Failed("opening the image", result);
        return false;
    }
    if (percent)
        percent(0);
    // Write blocks until the end; a watcher on another thread of the apartment asks it to stop.
    std::atomic<bool> done{false};
    std::atomic<bool> cancelled{false};
    std::thread watcher([&] {
        const com::Apartment watcherApartment;
        while (!done) {
            if (cancelRequested && cancelRequested() && !cancelled.exchange(true))
                writer.call(L"CancelWrite", {});
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    const Variant streamValue(static_cast<IUnknown*>(stream));
    result = writer.call(L"Write", {streamValue});
    done = true;
    watcher.join();
    stream->Release();
    if (cancelled) {
        reason = QStringLiteral("cancelled");
        return false;
    }
    if (FAILED(result)) {
        reason = Failed("writing the disc", result);
        return false;
    }
    if (percent)
        percent(100);
    return true;
}
#endif
