#include "app/LauncherEntry.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace zembra {

namespace {
const char* const kDesktopEntry = "application://zembra.desktop";
const char* const kObjectPath = "/com/canonical/unity/launcherentry/zembra";
const char* const kInterface = "com.canonical.Unity.LauncherEntry";
}  // namespace

void LauncherEntry::SetProgress(std::optional<int> percent) {
    if (percent == shown_) return;
    shown_ = percent;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage update = QDBusMessage::createSignal(kObjectPath, kInterface, "Update");
    QVariantMap properties;
    properties.insert("progress-visible", percent.has_value());
    properties.insert("progress", percent ? *percent / 100.0 : 0.0);
    update << QString::fromLatin1(kDesktopEntry) << properties;
    bus.send(update);
}

}  // namespace zembra
