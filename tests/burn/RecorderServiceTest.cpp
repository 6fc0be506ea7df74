// The burner over a system recording service (IMAPI2 on Windows), against a double of the service:
// which recorder a burn picks, and on Windows the whole burn through CCDBurner, including the real
// service where it is missing (under wine).
#include "DiscRecorderService.h"
#include "RecorderChoice.h"

#include <QFile>

#ifdef _WIN32
#include "CCDBurner.h"

#include <windows.h>
#include <objbase.h>

#include <QDir>
#include <QTemporaryDir>
#endif

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

struct Recorder
{
    QStringList names;
    QString notWritable; // empty: holds a blank medium
};

class ServiceDouble : public DiscRecorderService
{
public:
    bool ListRecorders(QStringList& ids, QString& reason) override
    {
        if (!missing.isEmpty()) {
            reason = missing;
            return false;
        }
        ids = order;
        return true;
    }
    QStringList RecorderNames(const QString& id) override { return recorders[id].names; }
    bool HasWritableMedium(const QString& id, QString& reason) override
    {
        reason = recorders[id].notWritable;
        return reason.isEmpty();
    }
    bool WriteImage(const QString& id, const QString& imagePath, const std::function<void(int)>& percent,
                    const std::function<bool()>&, QString& reason) override
    {
        QFile file(imagePath);
        written = {id, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable")};
        if (writtenTo)
            *writtenTo = written;
        if (!writeFailure.isEmpty()) {
            reason = writeFailure;
            return false;
        }
        if (percent)
            percent(100);
        return true;
    }

    void Add(const QString& id, const QStringList& names, const QString& notWritable = {})
    {
        order << id;
        recorders[id] = {names, notWritable};
    }

    QStringList order;
    std::map<QString, Recorder> recorders;
    QString missing;
    QString writeFailure;
    std::pair<QString, QByteArray> written;
    // Where a copy of `written` also goes, for callers that do not own the double.
    std::shared_ptr<std::pair<QString, QByteArray>> writtenTo;
};

TEST(RecorderChoice, PicksByAddressOrTheFirstWritable)
{
    ServiceDouble service;
    service.Add(QStringLiteral("\\\\?\\scsi#a"), {QStringLiteral("D:\\"), QStringLiteral("DVD-ROM A")},
                QStringLiteral("the medium in the drive is not blank"));
    service.Add(QStringLiteral("\\\\?\\scsi#b"), {QStringLiteral("E:\\"), QStringLiteral("BD-RE B")});
    struct Case
    {
        const char* address;
        const char* id;     // empty: refused
        const char* reason; // part of the reason when refused
    };
    const Case cases[] = {
        {"", "\\\\?\\scsi#b", ""},
        {"e:", "\\\\?\\scsi#b", ""},
        {"E:\\", "\\\\?\\scsi#b", ""},
        {"bd-re b", "\\\\?\\scsi#b", ""},
        {"\\\\?\\SCSI#B", "\\\\?\\scsi#b", ""},
        {"D:", "", "D:: the medium in the drive is not blank"},
        {"F:", "", "F:: no such recorder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        QString reason;
        const QString id = ChooseRecorder(service, QString::fromLatin1(c.address), reason);
        EXPECT_EQ(id.toStdString(), c.id);
        EXPECT_TRUE(reason.contains(QString::fromLatin1(c.reason))) << reason.toStdString();
    }
}

TEST(RecorderChoice, SaysWhyNoRecorderCanBeUsed)
{
    ServiceDouble none;
    ServiceDouble missing;
    missing.missing = QStringLiteral("the system's recording service (IMAPI2) is not available: 0x800401f3");
    ServiceDouble full;
    full.Add(QStringLiteral("a"), {}, QStringLiteral("the medium in the drive is not blank"));
    full.Add(QStringLiteral("b"), {}, QStringLiteral("the medium in the drive cannot be written (or there is none)"));
    const std::pair<ServiceDouble*, const char*> cases[] = {
        {&none, "no recorder found"},
        {&missing, "(IMAPI2) is not available: 0x800401f3"},
        {&full, "no recorder holds a writable medium (the medium in the drive is not blank; the medium in the drive "
                "cannot be written (or there is none))"},
    };
    for (const auto& [service, reason] : cases) {
        QString why;
        EXPECT_TRUE(ChooseRecorder(*service, {}, why).isEmpty());
        EXPECT_TRUE(why.contains(QString::fromLatin1(reason))) << why.toStdString();
    }
}

#ifdef _WIN32
// A burn through CCDBurner on Windows: the service writes the staged copy of the image, and the copy
// is gone afterwards whatever happened.
class WindowsBurn : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_image = m_tmp.filePath(QStringLiteral("disc.iso"));
        QFile file(m_image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 300; ++i)
            file.write(QByteArray(1024, static_cast<char>(i)));
        file.close();
        m_staging = m_tmp.filePath(QStringLiteral("staging"));
        qputenv("UMBRADISC_STAGING_DIR", m_staging.toUtf8());
        qunsetenv("UMBRADISC_BURN_DRIVE");
    }
    void TearDown() override
    {
        SetRecorderServiceFactory(nullptr);
        qunsetenv("UMBRADISC_STAGING_DIR");
    }
    // Every burn gets a fresh copy of `service`; the burner owns it, so what it wrote is reported
    // through m_written, which outlives it.
    void UseDouble()
    {
        m_written = std::make_shared<std::pair<QString, QByteArray>>();
        SetRecorderServiceFactory([this] {
            auto fresh = std::make_unique<ServiceDouble>(service);
            fresh->writtenTo = m_written;
            return fresh;
        });
    }
    QByteArray ImageBytes() const
    {
        QFile file(m_image);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool StagingEmpty() const { return QDir(m_staging).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty(); }

    QTemporaryDir m_tmp;
    QString m_image;
    QString m_staging;
    ServiceDouble service;
    std::shared_ptr<std::pair<QString, QByteArray>> m_written;
};

TEST_F(WindowsBurn, WritesTheStagedCopyAndRemovesIt)
{
    service.Add(QStringLiteral("rec"), {QStringLiteral("E:\\")});
    UseDouble();
    CCDBurner burner;
    int code = -1;
    std::vector<int> burned;
    BurnProgress progress;
    progress.burnPercent = [&burned](int p) { burned.push_back(p); };
    EXPECT_TRUE(burner.BurnFile(m_image, code, progress)) << burner.LastError().toStdString();
    EXPECT_EQ(code, BURN_SUCCESS);
    EXPECT_EQ(m_written->first, QStringLiteral("rec"));
    EXPECT_EQ(m_written->second, ImageBytes());
    EXPECT_EQ(burned.back(), 100);
    EXPECT_TRUE(StagingEmpty());
}

TEST_F(WindowsBurn, FailuresGiveTheLinuxCodes)
{
    struct Case
    {
        const char* name;
        std::function<void(ServiceDouble&)> arrange;
        int code;
        const char* reason;
    };
    const Case cases[] = {
        {"service missing", [](ServiceDouble& s) { s.missing = QStringLiteral("IMAPI2 missing"); }, BURN_NO_RECORDER,
         "IMAPI2 missing"},
        {"medium not blank",
         [](ServiceDouble& s) { s.Add(QStringLiteral("r"), {}, QStringLiteral("the medium in the drive is not blank")); },
         BURN_NO_RECORDER, "not blank"},
        {"write fails",
         [](ServiceDouble& s) {
             s.Add(QStringLiteral("r"), {});
             s.writeFailure = QStringLiteral("writing the disc failed: 0xc0aa0205");
         },
         BURN_FAILED, "0xc0aa0205"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service = ServiceDouble();
        c.arrange(service);
        UseDouble();
        CCDBurner burner;
        int code = -1;
        EXPECT_FALSE(burner.BurnFile(m_image, code));
        EXPECT_EQ(code, c.code);
        EXPECT_TRUE(burner.LastError().contains(QString::fromLatin1(c.reason))) << burner.LastError().toStdString();
        EXPECT_TRUE(StagingEmpty());
    }
}

// The real service: wine has no IMAPI2, which a burn reports as a missing recorder, with the reason.
TEST_F(WindowsBurn, MissingSystemServiceIsReportedAsNoRecorder)
{
    CLSID clsid;
    if (SUCCEEDED(CLSIDFromProgID(L"IMAPI2.MsftDiscMaster2", &clsid)))
        GTEST_SKIP() << "IMAPI2 is installed here";
    CCDBurner burner;
    int code = -1;
    EXPECT_FALSE(burner.BurnFile(m_image, code));
    EXPECT_EQ(code, BURN_NO_RECORDER);
    EXPECT_TRUE(burner.LastError().startsWith(QStringLiteral("the system's recording service (IMAPI2) is not available")))
        << burner.LastError().toStdString();
    EXPECT_EQ(BurnResultMessage(code), QStringLiteral("Can not find recordable driver in the computer."));
}
#endif

} // namespace
