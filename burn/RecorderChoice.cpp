#include "RecorderChoice.h"

namespace {

bool Names(DiscRecorderService& service, const QString& id, const QString& address)
{
    if (id.compare(address, Qt::CaseInsensitive) == 0)
        return true;
    QString wanted = address;
    if (wanted.size() == 2 && wanted.at(1) == QLatin1Char(':'))
        wanted += QLatin1Char('\\'); // "E:" means the volume "E:\"
    for (const QString& name : service.RecorderNames(id))
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

QString ChooseRecorder(DiscRecorderService& service, const QString& address, QString& reason)
{
    QStringList ids;
    if (!service.ListRecorders(ids, reason))
        return {};
    if (!address.isEmpty()) {
        for (const QString& id : ids) {
            if (!Names(service, id, address))
                continue;
            QString why;
            if (service.HasWritableMedium(id, why))
                return id;
            reason = address + QStringLiteral(": ") + why;
            return {};
        }
        reason = address + QStringLiteral(": no such recorder");
        return {};
    }
    if (ids.isEmpty()) {
        reason = QStringLiteral("no recorder found");
        return {};
    }
    QStringList problems;
    for (const QString& id : ids) {
        QString why;
        if (service.HasWritableMedium(id, why))
            return id;
        problems << why;
    }
    reason = QStringLiteral("no recorder holds a writable medium (") + problems.join(QStringLiteral("; ")) + QLatin1Char(')');
    return {};
}
