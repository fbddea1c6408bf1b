#include "ui/InternetState.h"

#include <QHostAddress>
#include <QNetworkInformation>
#include <QNetworkInterface>
#include <QUrl>

namespace qdx::ui {

bool InternetConectada() {
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        if (QNetworkInformation* info = QNetworkInformation::instance()) {
            const auto reachability = info->reachability();
            if (reachability != QNetworkInformation::Reachability::Unknown)
                return reachability == QNetworkInformation::Reachability::Online;
        }
    }
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        if (flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning))
            return true;
    }
    return false;
}

bool isLocalHost(const QString& host) {
    const QUrl url(QStringLiteral("http://") + host);
    const QString name = url.host();
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(name);
    return !address.isNull() && address.isLoopback();
}

} // namespace qdx::ui
