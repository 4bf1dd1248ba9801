#pragma once

// The KDE tests run KDE's own machinery (KIO's workers, KFileMetaData's
// collection) on our plugins in a home of their own: no user setting, cached
// thumbnail, installed plugin of another version or desktop session takes
// part.

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace kvd::testing {

// A file or folder in the private home of this test program.
QString SessionPath(const QString& name);

// Makes the home and its XDG folders inside session and points Qt at the
// build's plugins in pluginPath, before the application starts and reads them.
bool EnterPrivateSession(QTemporaryDir& session, const char* pluginPath);

// Compiles our MIME package into the home: clients know our type only from
// the compiled database.
bool InstallMimePackage(const char* mimePackage);

// The test program's main: its tests, inside an Application, in a private
// session.
template <typename Application>
int RunTestsInPrivateSession(int argc, char** argv, const char* pluginPath, const char* mimePackage) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir session;
  if (!session.isValid() || !EnterPrivateSession(session, pluginPath)) {
    std::fputs("cannot make a private home\n", stderr);
    return EXIT_FAILURE;
  }
  Application application(argc, argv);
  if (!InstallMimePackage(mimePackage)) {
    std::fputs("cannot compile the MIME database with update-mime-database\n", stderr);
    return EXIT_FAILURE;
  }
  return RUN_ALL_TESTS();
}

}  // namespace kvd::testing
