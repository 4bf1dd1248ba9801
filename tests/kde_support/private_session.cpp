#include "private_session.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace kvd::testing {
namespace {

QTemporaryDir* g_session = nullptr;

bool MakeXdgFolders() {
  for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
    const QString folder = SessionPath(QString::fromLatin1(variable).toLower());
    if (!QDir().mkpath(folder) || !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
      return false;
    }
    qputenv(variable, QFile::encodeName(folder));
  }
  return true;
}

}  // namespace

bool InstallMimePackage(const char* mimePackage) {
  const QString mime = SessionPath(QStringLiteral("xdg_data_home/mime"));
  if (!QDir().mkpath(mime + QStringLiteral("/packages"))) return false;
  if (!QFile::copy(QString::fromLocal8Bit(mimePackage), mime + QStringLiteral("/packages/kvd.xml"))) return false;
  return QProcess::execute(QStringLiteral("update-mime-database"), {mime}) == 0;
}

QString SessionPath(const QString& name) { return g_session->filePath(name); }

bool EnterPrivateSession(QTemporaryDir& session, const char* pluginPath) {
  g_session = &session;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_PLUGIN_PATH", pluginPath);
  // KIO starts its workers itself; a desktop's bus must not take part.
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
  return MakeXdgFolders();
}

}  // namespace kvd::testing
