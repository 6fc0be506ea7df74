#include "ImapiRecorderService.h"

#ifdef _WIN32
#include "DispatchObject.h"

#include <objidl.h>
#include <shlwapi.h>

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace {

using com::DispatchObject;
using com::Variant;

constexpr long kSectorBytes = 2048;

std::string Failed(const char* what, HRESULT result)
{
    return std::string(what) + " failed: " + com::describeResult(result);
}

std::string Utf8(const std::filesystem::path& path) { return com::utf8FromWide(path.wstring()); }

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The recorder with this id, initialised; empty with a reason otherwise.
DispatchObject OpenRecorder(const std::string& id, std::string& reason)
{
    HRESULT result = S_OK;
    DispatchObject recorder = DispatchObject::create(L"IMAPI2.MsftDiscRecorder2", &result);
    if (recorder)
        result = recorder.call(L"InitializeDiscRecorder", {Variant(com::wideFromUtf8(id))});
    if (FAILED(result)) {
        reason = Failed("IMAPI2 recorder", result);
        return {};
    }
    return recorder;
}

// A data writer bound to the recorder; empty with a reason otherwise.
DispatchObject OpenWriter(const DispatchObject& recorder, std::string& reason)
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

// The recorder with this id and a data writer bound to it; false with a reason otherwise.
bool OpenRecorderAndWriter(const std::string& id, DispatchObject& recorder, DispatchObject& writer, std::string& reason)
{
    recorder = OpenRecorder(id, reason);
    if (recorder)
        writer = OpenWriter(recorder, reason);
    return recorder && writer;
}

} // namespace

std::unique_ptr<DiscRecorderService> CreateSystemRecorderService()
{
    return std::make_unique<ImapiRecorderService>();
}

bool ImapiRecorderService::IsInstalled()
{
    return DispatchObject::available(L"IMAPI2.MsftDiscMaster2");
}

bool ImapiRecorderService::ListRecorders(std::vector<std::string>& ids, std::string& reason)
{
    const com::Apartment apartment;
    HRESULT result = S_OK;
    const DispatchObject master = DispatchObject::create(L"IMAPI2.MsftDiscMaster2", &result);
    if (!master) {
        reason = "the system's recording service (IMAPI2) is not available: " + com::describeResult(result);
        return false;
    }
    Variant supported, count;
    result = master.getProperty(L"IsSupportedEnvironment", &supported);
    if (SUCCEEDED(result) && !supported.toBool()) {
        reason = "the system's recording service (IMAPI2) finds no usable recorder here";
        return false;
    }
    if (SUCCEEDED(result))
        result = master.getProperty(L"Count", &count);
    for (long i = 0; SUCCEEDED(result) && i < count.toLong(); ++i) {
        Variant id;
        result = master.getProperty(L"Item", &id, {Variant(i)});
        if (SUCCEEDED(result))
            ids.push_back(com::utf8FromWide(id.toText()));
    }
    if (FAILED(result)) {
        reason = Failed("listing the recorders", result);
        return false;
    }
    return true;
}

std::vector<std::string> ImapiRecorderService::RecorderNames(const std::string& id)
{
    const com::Apartment apartment;
    std::string ignored;
    const DispatchObject recorder = OpenRecorder(id, ignored);
    std::vector<std::string> names;
    if (!recorder)
        return names;
    Variant paths, product;
    if (SUCCEEDED(recorder.getProperty(L"VolumePathNames", &paths)))
        for (const std::wstring& path : paths.toTextList())
            names.push_back(com::utf8FromWide(path));
    if (SUCCEEDED(recorder.getProperty(L"ProductId", &product)))
        names.push_back(Trimmed(com::utf8FromWide(product.toText())));
    return names;
}

bool ImapiRecorderService::HasWritableMedium(const std::string& id, std::string& reason)
{
    const com::Apartment apartment;
    DispatchObject recorder, writer;
    if (!OpenRecorderAndWriter(id, recorder, writer, reason))
        return false;
    Variant supported, blank;
    HRESULT result = writer.call(L"IsCurrentMediaSupported", {Variant(recorder.get())}, &supported);
    if (SUCCEEDED(result) && !supported.toBool()) {
        reason = "the medium in the drive cannot be written (or there is none)";
        return false;
    }
    if (SUCCEEDED(result))
        result = writer.getProperty(L"MediaHeuristicallyBlank", &blank);
    if (FAILED(result)) {
        reason = Failed("checking the medium", result);
        return false;
    }
    if (!blank.toBool()) {
        reason = "the medium in the drive is not blank";
        return false;
    }
    return true;
}

bool ImapiRecorderService::WriteImage(const std::string& id, const std::filesystem::path& imagePath,
                                      const std::function<void(int)>& percent,
                                      const std::function<bool()>& cancelRequested, std::string& reason)
{
    const com::Apartment apartment;
    DispatchObject recorder, writer;
    if (!OpenRecorderAndWriter(id, recorder, writer, reason))
        return false;
    Variant freeSectors;
    std::error_code sizeError;
    const std::uintmax_t imageSize = std::filesystem::file_size(imagePath, sizeError);
    if (SUCCEEDED(writer.getProperty(L"FreeSectorsOnMedia", &freeSectors)) && !sizeError
        && imageSize > static_cast<std::uintmax_t>(freeSectors.toLong()) * kSectorBytes) {
        reason = Utf8(imagePath) + ": the image is larger than the free space on the medium";
        return false;
    }
    IStream* stream = nullptr;
    HRESULT result = SHCreateStreamOnFileEx(imagePath.wstring().c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                            FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream);
    if (FAILED(result)) {
        reason = Utf8(imagePath) + ": " + Failed("opening the image", result);
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
        reason = "cancelled";
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
