#include <gtest/gtest.h>

#include <string>

#include "platform/stand_in/control.h"
#include "shell_module/module_exports.h"
#include "support/heap_counter.h"

namespace kvd {
namespace {

using stand_in::RegistryContents;
using stand_in::RegistryValue;

const std::u16string kClasses = u"Software\\Classes";
const std::u16string kClassKey = kClasses + u"\\CLSID\\{74408BFC-4515-4D3B-9597-C7242D87358C}";
const std::u16string kHandlerBelowFileType = u"\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}";
const std::u16string kModulePath = u"C:\\Users\\u\\AppData\\Local\\Programs\\KvdThumb\\KvdThumbDll.dll";

RegistryValue Text(const std::u16string& text) {
  RegistryValue value{REG_SZ, {}};
  for (const char16_t c : text) {
    value.data.insert(value.data.end(), {static_cast<BYTE>(c & 0xFF), static_cast<BYTE>(c >> 8)});
  }
  value.data.insert(value.data.end(), {0, 0});
  return value;
}

const RegistryValue kOurClassId = Text(u"{74408BFC-4515-4D3B-9597-C7242D87358C}");

class PerUserInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stand_in::Reset();
    stand_in::SetModulePath(kModulePath);
  }
};

// The entries of DllRegisterServer, below the user's classes; the machine's stay untouched.
TEST_F(PerUserInstallTest, WritesTheRegistrationEntriesBelowTheUsersClasses) {
  EXPECT_EQ(DllInstall(TRUE, u"user"), S_OK);

  const RegistryContents expected{
      {u"Software", {}},
      {kClasses, {}},
      {kClasses + u"\\CLSID", {}},
      {kClassKey, {{u"", Text(u"KvdThumbDll.KvdThumbnailProvider Class")}}},
      {kClassKey + u"\\InprocServer32", {{u"", Text(kModulePath)}, {u"ThreadingModel", Text(u"Apartment")}}},
      {kClasses + u"\\.kvd", {}},
      {kClasses + u"\\.kvd\\shellex", {}},
      {kClasses + u"\\.kvd" + kHandlerBelowFileType, {{u"", kOurClassId}}},
  };
  EXPECT_EQ(stand_in::CurrentUser(), expected);
  EXPECT_TRUE(stand_in::ClassesRoot().empty());
  EXPECT_EQ(stand_in::ShellNotifications().size(), 1u);
}

// As DllUnregisterServer: the class goes, and the handler only when it is ours.
TEST_F(PerUserInstallTest, RemovesWhatItWroteAndLeavesAnotherProgramsHandler) {
  for (const bool foreignHandler : {false, true}) {
    SCOPED_TRACE(foreignHandler);
    SetUp();
    stand_in::SeedCurrentUserValue(kClasses + u"\\.kvd", u"", Text(u"Other.Document"));
    ASSERT_EQ(DllInstall(TRUE, u"USER"), S_OK);
    const std::u16string handlerKey = kClasses + u"\\Other.Document" + kHandlerBelowFileType;
    ASSERT_EQ(stand_in::CurrentUser().at(handlerKey).at(u""), kOurClassId);
    const RegistryValue foreign = Text(u"{11111111-2222-3333-4444-555555555555}");
    if (foreignHandler) stand_in::SeedCurrentUserValue(handlerKey, u"", foreign);

    EXPECT_EQ(DllInstall(FALSE, u"user"), S_OK);
    EXPECT_FALSE(stand_in::CurrentUser().contains(kClassKey));
    EXPECT_FALSE(stand_in::CurrentUser().contains(kClassKey + u"\\InprocServer32"));
    EXPECT_EQ(stand_in::CurrentUser().contains(handlerKey), foreignHandler);
    if (foreignHandler) {
      EXPECT_EQ(stand_in::CurrentUser().at(handlerKey).at(u""), foreign);
    }
    EXPECT_EQ(stand_in::CurrentUser().at(kClasses + u"\\.kvd").at(u""), Text(u"Other.Document"));
    EXPECT_EQ(stand_in::ShellNotifications().size(), 2u);  // installed, removed
  }
}

// What the handler key held before, of any type and without a terminating
// NUL, comes back byte for byte; registering again keeps it.
TEST_F(PerUserInstallTest, RemovalGivesBackTheHandlerThatInstallingReplaced) {
  const std::u16string handlerKey = kClasses + u"\\.kvd" + kHandlerBelowFileType;
  const RegistryValue replaced{2, {'{', 0, '1', 0, '}', 0}};
  stand_in::SeedCurrentUserValue(handlerKey, u"", replaced);
  ASSERT_EQ(DllInstall(TRUE, u"user"), S_OK);
  ASSERT_EQ(DllInstall(TRUE, u"user"), S_OK);
  EXPECT_EQ(stand_in::CurrentUser().at(handlerKey).at(u""), kOurClassId);

  EXPECT_EQ(DllInstall(FALSE, u"user"), S_OK);
  EXPECT_EQ(stand_in::CurrentUser().at(handlerKey).at(u""), replaced);
  EXPECT_FALSE(stand_in::CurrentUser().contains(kClassKey));
  EXPECT_FALSE(stand_in::CurrentUser().contains(kClassKey + u"\\Replaced"));
}

// Memory that runs out at any allocation of the install never costs the other
// program its handler: either the install fails before ours is written, or
// removal gives theirs back.
TEST_F(PerUserInstallTest, AnInstallShortOfMemoryKeepsTheReplacedHandler) {
  if (!testing::AllocationFailure::Available()) GTEST_SKIP() << "the sanitizer's allocator cannot be made to fail";
  const std::u16string handlerKey = kClasses + u"\\.kvd" + kHandlerBelowFileType;
  const RegistryValue replaced = Text(u"{11111111-2222-3333-4444-555555555555}");
  for (std::size_t nth = 1;; ++nth) {
    SetUp();
    stand_in::SeedCurrentUserValue(handlerKey, u"", replaced);
    bool struck = false;
    {
      const testing::AllocationFailure failure(nth);
      DllInstall(TRUE, u"user");
      struck = failure.Struck();
    }
    DllInstall(FALSE, u"user");
    EXPECT_EQ(stand_in::CurrentUser().at(handlerKey).at(u""), replaced) << "allocation " << nth;
    if (!struck) break;
  }
}

TEST_F(PerUserInstallTest, RefusesAnyOtherCommandLine) {
  for (const char16_t* commandLine : {static_cast<const char16_t*>(nullptr), u"", u"machine", u"users", u" user"}) {
    for (const BOOL install : {TRUE, FALSE}) {
      EXPECT_EQ(DllInstall(install, commandLine), E_INVALIDARG);
    }
  }
  EXPECT_TRUE(stand_in::CurrentUser().empty());
  EXPECT_TRUE(stand_in::ClassesRoot().empty());
  EXPECT_TRUE(stand_in::ShellNotifications().empty());
}

}  // namespace
}  // namespace kvd
