#include "shell_module/registration.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/stand_in/control.h"
#include "shell_module/module_exports.h"

namespace kvd {
namespace {

using namespace std::string_literals;
using stand_in::ClassesRoot;
using stand_in::RegistryContents;
using stand_in::RegistryValue;

constexpr HRESULT kPathTooLong = static_cast<HRESULT>(0x8007007Au);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);
constexpr LONG kErrorAccessDenied = 5;

// The class identifier is fixed forever: registrations in the field rely on it.
const std::u16string kClassKey = u"CLSID\\{74408BFC-4515-4D3B-9597-C7242D87358C}";
const std::u16string kServerKey = kClassKey + u"\\InprocServer32";
const std::u16string kHandlerBelowFileType = u"\\shellex\\{e357fccd-a995-4576-b01f-234630154e96}";
const std::u16string kModulePath = u"C:\\Program Files\\KvdThumb\\KvdThumbDll.dll";

// Registry bytes of a REG_SZ value, with terminator unless told otherwise.
RegistryValue Text(const std::u16string& text, bool terminated = true) {
  RegistryValue value{REG_SZ, {}};
  for (const char16_t c : text) {
    value.data.push_back(static_cast<BYTE>(c & 0xFF));
    value.data.push_back(static_cast<BYTE>(c >> 8));
  }
  if (terminated) value.data.insert(value.data.end(), {0, 0});
  return value;
}

std::optional<RegistryValue> ValueAt(const std::u16string& key, const std::u16string& name = u"") {
  const auto found = ClassesRoot().find(key);
  if (found == ClassesRoot().end()) return std::nullopt;
  const auto value = found->second.find(name);
  if (value == found->second.end()) return std::nullopt;
  return value->second;
}

bool KeyExists(const std::u16string& key) { return ClassesRoot().contains(key); }

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stand_in::Reset();
    stand_in::SetModulePath(kModulePath);
  }

  static void ExpectClassEntries(const std::u16string& modulePath = kModulePath) {
    EXPECT_EQ(ValueAt(kClassKey), Text(u"KvdThumbDll.KvdThumbnailProvider Class"));
    EXPECT_EQ(ValueAt(kServerKey), Text(modulePath));
    EXPECT_EQ(ValueAt(kServerKey, u"ThreadingModel"), Text(u"Apartment"));
  }
  static const std::vector<stand_in::ShellNotification>& Notifications() { return stand_in::ShellNotifications(); }
};

// Every value is REG_SZ and its data ends in a NUL (see Text).
TEST_F(RegistrationTest, WritesExactlyTheClassAndHandlerEntries) {
  EXPECT_EQ(DllRegisterServer(), S_OK);

  const RegistryContents expected{
      {u"CLSID", {}},
      {kClassKey, {{u"", Text(u"KvdThumbDll.KvdThumbnailProvider Class")}}},
      {kServerKey, {{u"", Text(kModulePath)}, {u"ThreadingModel", Text(u"Apartment")}}},
      {u".kvd", {}},
      {u".kvd\\shellex", {}},
      {u".kvd" + kHandlerBelowFileType, {{u"", Text(u"{74408BFC-4515-4D3B-9597-C7242D87358C}")}}},
  };
  EXPECT_EQ(ClassesRoot(), expected);
  EXPECT_EQ(Notifications(), (std::vector<stand_in::ShellNotification>{{SHCNE_ASSOCCHANGED, SHCNF_IDLIST}}));
}

TEST_F(RegistrationTest, TheHandlerGoesUnderTheProgIdThatKvdNames) {
  const std::u16string longest(212, u'P');  // the handler key path is then 259 characters
  struct Case {
    const char* what;
    std::optional<RegistryValue> kvdDefault;  // nullopt: a .kvd key without a default value
    HRESULT expected;
    std::u16string fileType;  // where the handler key is, when expected is S_OK
  };
  const Case cases[] = {
      {"no default value", std::nullopt, S_OK, u".kvd"},
      {"empty default value", Text(u""), S_OK, u".kvd"},
      {"default value without data", RegistryValue{REG_SZ, {}}, S_OK, u".kvd"},
      {"a ProgID", Text(u"Kvd.Document.1"), S_OK, u"Kvd.Document.1"},
      {"a ProgID with bytes after its terminator", Text(u"Kvd.Document.1\0junk"s), S_OK, u"Kvd.Document.1"},
      {"a ProgID of 212 characters", Text(longest), S_OK, longest},
      {"a ProgID of 213 characters", Text(longest + u"P"), kPathTooLong, u""},
      {"520 bytes without terminator", Text(std::u16string(260, u'P'), false), kPathTooLong, u""},
      {"too long for 520 bytes", Text(std::u16string(260, u'P')), S_OK, u".kvd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stand_in::Reset();
    stand_in::SeedKey(u".kvd");
    if (c.kvdDefault) stand_in::SeedValue(u".kvd", u"", *c.kvdDefault);
    const RegistryContents::mapped_type kvdBefore = ClassesRoot().at(u".kvd");

    EXPECT_EQ(DllRegisterServer(), c.expected);
    ExpectClassEntries();
    EXPECT_EQ(ClassesRoot().at(u".kvd"), kvdBefore);
    if (c.expected == S_OK) {
      EXPECT_EQ(ValueAt(c.fileType + kHandlerBelowFileType), Text(u"{74408BFC-4515-4D3B-9597-C7242D87358C}"));
      EXPECT_EQ(KeyExists(u".kvd\\shellex"), c.fileType == u".kvd");
      EXPECT_EQ(Notifications().size(), 1u);
    } else {
      EXPECT_EQ(ClassesRoot().size(), 4u);  // CLSID, the class and server keys, .kvd
      EXPECT_TRUE(Notifications().empty());
    }
  }
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesTheSameEntries) {
  stand_in::SeedValue(u".kvd", u"", Text(u"Kvd.Document.1"));
  EXPECT_EQ(DllRegisterServer(), S_OK);
  const RegistryContents first = ClassesRoot();
  EXPECT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(ClassesRoot(), first);
  EXPECT_EQ(Notifications().size(), 2u);
}

TEST_F(RegistrationTest, AModulePathThatDoesNotFitRegistersAndDeletesNothing) {
  const std::u16string longestPath = u"C:\\" + std::u16string(252, u'd') + u".dll";  // 259 characters
  stand_in::SetModulePath(longestPath);
  EXPECT_EQ(DllRegisterServer(), S_OK);
  ExpectClassEntries(longestPath);

  for (const std::size_t length : {260u, 261u, 400u}) {
    stand_in::SetModulePath(u"C:\\" + std::u16string(length - 7, u'd') + u".dll");
    const RegistryContents before = ClassesRoot();
    EXPECT_EQ(DllRegisterServer(), kPathTooLong) << length;
    EXPECT_EQ(DllUnregisterServer(), kPathTooLong) << length;
    EXPECT_EQ(ClassesRoot(), before);
  }
  EXPECT_EQ(Notifications().size(), 1u);
}

TEST_F(RegistrationTest, FailuresOfThePlatformAreReturned) {
  EXPECT_EQ(DllRegisterServer(), S_OK);
  const RegistryContents registered = ClassesRoot();

  stand_in::FailModulePath(kErrorAccessDenied);
  EXPECT_EQ(DllRegisterServer(), kAccessDenied);
  EXPECT_EQ(DllUnregisterServer(), kAccessDenied);
  EXPECT_EQ(ClassesRoot(), registered);

  // A failure whose reason reads as success must not report success.
  stand_in::FailModulePath(0);
  EXPECT_EQ(DllRegisterServer(), E_FAIL);
  EXPECT_EQ(DllUnregisterServer(), E_FAIL);
  EXPECT_EQ(ClassesRoot(), registered);

  stand_in::Reset();
  stand_in::FailKeyCreation(kErrorAccessDenied);
  EXPECT_EQ(DllRegisterServer(), kAccessDenied);
  EXPECT_TRUE(ClassesRoot().empty());
  EXPECT_TRUE(Notifications().empty());
}

TEST_F(RegistrationTest, UnregisteringLeavesTheKeysAboveTheHandler) {
  EXPECT_EQ(DllRegisterServer(), S_OK);
  stand_in::SeedKey(kServerKey + u"\\Extra");
  EXPECT_EQ(DllUnregisterServer(), S_OK);

  EXPECT_FALSE(KeyExists(kClassKey));
  EXPECT_FALSE(KeyExists(kServerKey + u"\\Extra"));
  EXPECT_FALSE(KeyExists(u".kvd" + kHandlerBelowFileType));
  EXPECT_TRUE(KeyExists(u"CLSID"));
  EXPECT_TRUE(KeyExists(u".kvd\\shellex"));
  EXPECT_TRUE(KeyExists(u".kvd"));
  EXPECT_EQ(Notifications().size(), 1u);  // only registration tells the shell
}

TEST_F(RegistrationTest, UnregisteringWithoutTheClassKeyStopsThere) {
  stand_in::SeedValue(u".kvd" + kHandlerBelowFileType, u"", Text(u"{74408BFC-4515-4D3B-9597-C7242D87358C}"));
  EXPECT_EQ(DllUnregisterServer(), kNotFound);
  EXPECT_TRUE(KeyExists(u".kvd" + kHandlerBelowFileType));
}

TEST_F(RegistrationTest, UnregisteringFollowsTheAssociationAsItIsNow) {
  for (const bool movedHandlerExists : {false, true}) {
    SCOPED_TRACE(movedHandlerExists);
    stand_in::Reset();
    EXPECT_EQ(DllRegisterServer(), S_OK);
    stand_in::SeedValue(u".kvd", u"", Text(u"Other.Document"));
    if (movedHandlerExists) {
      stand_in::SeedValue(u"Other.Document" + kHandlerBelowFileType, u"",
                          Text(u"{74408bfc-4515-4d3b-9597-c7242d87358c}"));
    }

    // A handler key that is gone is no failure: there is nothing left to remove.
    EXPECT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_FALSE(KeyExists(u"Other.Document" + kHandlerBelowFileType));
    EXPECT_TRUE(KeyExists(u".kvd" + kHandlerBelowFileType));
  }
}

TEST_F(RegistrationTest, UnregisteringLeavesAnotherProgramsHandler) {
  stand_in::SeedValue(u".kvd", u"", Text(u"Other.Document"));
  EXPECT_EQ(DllRegisterServer(), S_OK);
  const std::u16string handlerKey = u"Other.Document" + kHandlerBelowFileType;
  const RegistryValue foreign = Text(u"{11111111-2222-3333-4444-555555555555}");
  stand_in::SeedValue(handlerKey, u"", foreign);

  EXPECT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_FALSE(KeyExists(kClassKey));
  EXPECT_EQ(ValueAt(handlerKey), foreign);
}

// A class that names its display name and host process, as the preview
// handler does, has them on its class key; the rest is as for the provider.
TEST_F(RegistrationTest, AClassWithDisplayNameAndAppIdRegistersAndUnregistersThemToo) {
  const CLSID clsid{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  const ServerClass served{clsid, u"Test.Handler Class", u"Test handler", u"{AAAAAAAA-0000-0000-0000-000000000000}",
                           u"%s\\shellex\\{test}"};
  const std::u16string classKey = u"CLSID\\{01234567-89AB-CDEF-0123-456789ABCDEF}";
  EXPECT_EQ(RegisterIn(HKEY_CLASSES_ROOT, served), S_OK);
  const RegistryContents expected{
      {u"CLSID", {}},
      {classKey,
       {{u"", Text(u"Test.Handler Class")},
        {u"DisplayName", Text(u"Test handler")},
        {u"AppID", Text(u"{AAAAAAAA-0000-0000-0000-000000000000}")}}},
      {classKey + u"\\InprocServer32", {{u"", Text(kModulePath)}, {u"ThreadingModel", Text(u"Apartment")}}},
      {u".kvd", {}},
      {u".kvd\\shellex", {}},
      {u".kvd\\shellex\\{test}", {{u"", Text(u"{01234567-89AB-CDEF-0123-456789ABCDEF}")}}},
  };
  EXPECT_EQ(ClassesRoot(), expected);
  EXPECT_EQ(UnregisterFrom(HKEY_CLASSES_ROOT, served), S_OK);
  EXPECT_EQ(ClassesRoot(), (RegistryContents{{u"CLSID", {}}, {u".kvd", {}}, {u".kvd\\shellex", {}}}));
}

// The DLLs of both bitnesses registered over another program's handler, for
// the machine or for the user: whichever is unregistered first leaves the
// handler, one key for both registry views, ours, and the last to go gives
// back what the first replaced.
TEST_F(RegistrationTest, WithBothBitnessesRegisteredTheLastToGoGivesBackTheHandler) {
  struct Scope {
    std::u16string classes;
    const RegistryContents& (*contents)();
    void (*seed)(std::u16string_view, std::u16string_view, RegistryValue);
    HRESULT (*registerIt)();
    HRESULT (*unregisterIt)();
  };
  const Scope scopes[] = {
      {u"", ClassesRoot, stand_in::SeedValue, [] { return DllRegisterServer(); }, [] { return DllUnregisterServer(); }},
      {u"Software\\Classes\\", stand_in::CurrentUser, stand_in::SeedCurrentUserValue,
       [] { return DllInstall(TRUE, u"user"); }, [] { return DllInstall(FALSE, u"user"); }},
  };
  const RegistryValue foreign = Text(u"{11111111-2222-3333-4444-555555555555}");
  const auto as = [](bool bits32) {
    stand_in::RunAs32Bit(bits32);
    stand_in::SetModulePath(bits32 ? u"C:\\Program Files (x86)\\KvdThumb\\KvdThumbDll.dll" : kModulePath);
  };
  for (const Scope& scope : scopes) {
    for (const bool first32 : {true, false}) {
      SCOPED_TRACE(testing::Message() << (scope.classes.empty() ? "machine" : "user") << (first32 ? ", 32" : ", 64")
                                      << "-bit first");
      stand_in::Reset();
      const std::u16string handlerKey = scope.classes + u".kvd" + kHandlerBelowFileType;
      const auto handler = [&]() -> std::optional<RegistryValue> {
        const auto key = scope.contents().find(handlerKey);
        if (key == scope.contents().end() || !key->second.contains(u"")) return std::nullopt;
        return key->second.at(u"");
      };
      scope.seed(handlerKey, u"", foreign);
      as(false);
      ASSERT_EQ(scope.registerIt(), S_OK);
      as(true);
      ASSERT_EQ(scope.registerIt(), S_OK);

      as(first32);
      EXPECT_EQ(scope.unregisterIt(), S_OK);
      EXPECT_EQ(handler(), Text(u"{74408BFC-4515-4D3B-9597-C7242D87358C}"));
      as(!first32);
      EXPECT_EQ(scope.unregisterIt(), S_OK);
      EXPECT_EQ(handler(), foreign);
      for (const std::u16string view : {u"", u"Wow6432Node\\"}) {
        EXPECT_FALSE(scope.contents().contains(scope.classes + view + kClassKey));
      }
    }
  }
}

TEST(FormatRegistryPath, RefusesPathsLongerThan259Characters) {
  for (const std::size_t length : {0u, 257u, 258u, 300u}) {
    SCOPED_TRACE(length);
    const std::u16string argument(length, u'a');
    RegistryTextBuffer path;
    path.fill(u'#');
    const HRESULT expected = length + 2 > 259 ? kPathTooLong : S_OK;
    EXPECT_EQ(FormatRegistryPath(path, u"<%s>", argument), expected);
    const std::u16string whole = u"<" + argument + u">";
    EXPECT_EQ(std::u16string(path.data()), whole.substr(0, 259));
  }
}

}  // namespace
}  // namespace kvd
