// Registry values that we share with other programs: the handler values of a
// file type's shellex keys, the machine's property handler for .kvd and its
// property lists, which another program may hold before we come and may write
// again after us. Windows Installer writes a value of the Registry table over
// whatever is there, and removes it by name whatever it holds by then.
//
// So the product keeps a record of each shared value, below
// Software\KvdThumb\SharedValues\<Registry row> in the value's own root: where
// it lives (key, name and registry view), the text we wrote there, and the
// value we replaced when we first took it over (byte for byte, its own type).
// "Ours" is what the record says we wrote, not the text of the package at
// hand, so that an upgrade recognises an older version's text.
//
// NoteForeignValues (immediate, before anything is removed, the older product
// included) reads the records and the live values and hands
// RestoreForeignValues (deferred, after the registry is written or cleaned)
// what to put back and the records to keep: a value another program wrote
// after us stays as it is; on removal a value still ours gives way to the one
// we replaced; on an install, an upgrade or a repair the records are renewed.

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The Registry rows (their keys, separated by ';') whose values may be taken over.
constexpr wchar_t kSharedValuesProperty[] = L"KVD_SHARED_VALUES";
// Windows Installer hands a deferred action the property named after it.
constexpr wchar_t kRestoreAction[] = L"RestoreForeignValues";
constexpr wchar_t kRestoreData[] = L"CustomActionData";
constexpr wchar_t kRemoving[] = L"REMOVE~=\"ALL\"";

// Where the records live, always in the 64-bit view.
constexpr wchar_t kProductKey[] = L"Software\\KvdThumb";
constexpr wchar_t kRecordsKey[] = L"Software\\KvdThumb\\SharedValues";
constexpr wchar_t kRecordKeyName[] = L"Key";
constexpr wchar_t kRecordValueName[] = L"Name";
constexpr wchar_t kRecordView[] = L"View";
constexpr wchar_t kRecordOurs[] = L"Ours";
constexpr wchar_t kRecordReplaced[] = L"Replaced";

// The Component table's attribute of a component whose keys go to the 64-bit view.
constexpr int kComponent64Bit = 256;

constexpr wchar_t kFieldSeparator = L'|';
constexpr wchar_t kRecordSeparator = L'\n';
// The deferred action's lines: a value to put back, the records of a root to
// drop, a record to write.
constexpr wchar_t kPutBackLine[] = L"put";
constexpr wchar_t kForgetLine[] = L"forget";
constexpr wchar_t kRecordLine[] = L"record";

// A registry value: where it lives and what it holds.
struct RegistryValue {
  int root = -1;  // as the Registry table's Root column
  DWORD view = 64;
  std::wstring key;
  std::wstring name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// What the product keeps about one shared value.
struct Record {
  std::wstring id;  // the Registry row
  RegistryValue location;
  std::wstring ours;
  std::optional<RegistryValue> replaced;
};

// Takes no std::wstring, so that it also serves where memory ran out.
void Log(MSIHANDLE install, const wchar_t* text) {
  PMSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, text);
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// Windows Installer's way of handing out text: its length first, then the text.
template <typename Read>
std::wstring InstallerText(Read read) {
  DWORD length = 0;
  wchar_t empty[1] = {};
  if (read(empty, &length) != ERROR_MORE_DATA) return {};
  std::wstring text(++length, L'\0');
  if (read(text.data(), &length) != ERROR_SUCCESS) return {};
  text.resize(length);
  return text;
}

std::wstring GetProperty(MSIHANDLE install, const wchar_t* name) {
  return InstallerText([&](wchar_t* text, DWORD* length) { return MsiGetPropertyW(install, name, text, length); });
}

std::wstring RecordString(MSIHANDLE record, UINT field) {
  return InstallerText([&](wchar_t* text, DWORD* length) { return MsiRecordGetStringW(record, field, text, length); });
}

// A Registry column resolved as Windows Installer writes it ([KVD_FILE_TYPE] and the like).
std::wstring Formatted(MSIHANDLE install, const std::wstring& column) {
  PMSIHANDLE record = MsiCreateRecord(0);
  MsiRecordSetStringW(record, 0, column.c_str());
  return InstallerText([&](wchar_t* text, DWORD* length) { return MsiFormatRecordW(install, record, text, length); });
}

// The Registry table's key ends in a backslash where wixl writes it.
std::wstring WithoutTrailingBackslashes(std::wstring key) {
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  return key;
}

HKEY RootKey(int root) {
  switch (root) {
    case 0: return HKEY_CLASSES_ROOT;
    case 1: return HKEY_CURRENT_USER;
    case 2: return HKEY_LOCAL_MACHINE;
    default: return nullptr;  // -1, by ALLUSERS: none of our rows
  }
}

REGSAM ViewAccess(DWORD view) { return view == 32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }

// Reads the value NAME of an open key into value; false when there is none.
bool QueryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data) {
  DWORD size = 0;
  LONG read = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (read == ERROR_SUCCESS) {
    data.resize(size);
    read = RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    data.resize(size);
  }
  return read == ERROR_SUCCESS;
}

// Reads the live value; false when there is none.
bool ReadValue(RegistryValue& value) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(RootKey(value.root), value.key.c_str(), 0, KEY_QUERY_VALUE | ViewAccess(value.view), &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  const bool read = QueryValue(key, value.name.c_str(), value.type, value.data);
  RegCloseKey(key);
  return read;
}

bool SetValue(HKEY key, const wchar_t* name, DWORD type, const std::vector<BYTE>& data) {
  return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool WriteValue(const RegistryValue& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(RootKey(value.root), value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE | ViewAccess(value.view), nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool set = SetValue(key, value.name.c_str(), value.type, value.data);
  RegCloseKey(key);
  return set;
}

std::vector<BYTE> TextBytes(const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)};
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The text of string data up to its first NUL.
std::wstring TextOf(DWORD type, const std::vector<BYTE>& data) {
  if (!IsText(type)) return {};
  const std::wstring_view text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  return std::wstring(text.substr(0, text.find(L'\0')));
}

// Class identifiers differ in case only between writers.
bool EqualIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
  return std::ranges::equal(a, b, {}, lower, lower);
}

bool Holds(const RegistryValue& value, const std::wstring& text) {
  return EqualIgnoringAsciiCase(TextOf(value.type, value.data), text);
}

// The deferred action's data: one line each, each field of text or bytes in
// hexadecimal (text as UTF-16), so that no text of another program can break it.
void AppendHex(std::wstring& out, const void* bytes, std::size_t size) {
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  for (std::size_t i = 0; i < size; ++i) {
    const BYTE byte = static_cast<const BYTE*>(bytes)[i];
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
}

class Line {
 public:
  explicit Line(const wchar_t* kind) : text_(kind) {}
  Line& Number(unsigned long number) { return Field(std::to_wstring(number)); }
  Line& Text(const std::wstring& text) { return Bytes(text.data(), text.size() * sizeof(wchar_t)); }
  Line& Bytes(const void* bytes, std::size_t size) {
    text_ += kFieldSeparator;
    AppendHex(text_, bytes, size);
    return *this;
  }
  Line& Field(const std::wstring& field) {
    text_ += kFieldSeparator;
    text_ += field;
    return *this;
  }
  // Where the value lives, then what it holds.
  Line& Value(const RegistryValue& value) {
    Number(static_cast<unsigned long>(value.root)).Number(value.view).Text(value.key).Text(value.name);
    return Number(value.type).Bytes(value.data.data(), value.data.size());
  }
  const std::wstring& text() const { return text_; }

 private:
  std::wstring text_;
};

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::wstring_view::npos) return parts;
    start = end + 1;
  }
}

// Reads the fields of a line back, in the order Line wrote them; once a field
// does not decode, every later read fails too.
class Fields {
 public:
  explicit Fields(std::wstring_view line) : fields_(Split(line, kFieldSeparator)) {}
  std::wstring_view Kind() const { return fields_.front(); }
  bool Number(unsigned long& number) {
    const std::wstring field(Next());
    wchar_t* end = nullptr;
    number = std::wcstoul(field.c_str(), &end, 10);
    return ok_ &= !field.empty() && *end == L'\0';
  }
  bool Bytes(std::vector<BYTE>& bytes) {
    const std::wstring_view hex = Next();
    bytes.clear();
    if (hex.size() % 2 != 0) return ok_ = false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      const int high = Digit(hex[i]);
      const int low = Digit(hex[i + 1]);
      if (high < 0 || low < 0) return ok_ = false;
      bytes.push_back(static_cast<BYTE>(high << 4 | low));
    }
    return ok_;
  }
  bool Text(std::wstring& text) {
    std::vector<BYTE> bytes;
    if (!Bytes(bytes) || bytes.size() % sizeof(wchar_t) != 0) return ok_ = false;
    text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return true;
  }
  bool Value(RegistryValue& value) {
    unsigned long root = 0;
    unsigned long view = 0;
    unsigned long type = 0;
    if (!Number(root) || !Number(view) || !Text(value.key) || !Text(value.name) || !Number(type) ||
        !Bytes(value.data)) {
      return false;
    }
    value.root = static_cast<int>(root);
    value.view = static_cast<DWORD>(view);
    value.type = static_cast<DWORD>(type);
    return RootKey(value.root) != nullptr;
  }
  // Every field read, and no more than there were.
  bool Complete() const { return ok_ && next_ == fields_.size(); }

 private:
  static int Digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
  }
  std::wstring_view Next() {
    if (next_ >= fields_.size()) {
      ok_ = false;
      return {};
    }
    return fields_[next_++];
  }

  std::vector<std::wstring_view> fields_;
  std::size_t next_ = 1;
  bool ok_ = true;
};

std::wstring RecordPath(const std::wstring& id) { return std::wstring(kRecordsKey) + L"\\" + id; }

// Reads the text value NAME of an open key into text; false, text unchanged,
// when there is none or it holds no text.
bool QueryText(HKEY key, const wchar_t* name, std::wstring& text) {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  if (!QueryValue(key, name, type, data) || !IsText(type)) return false;
  text = TextOf(type, data);
  return true;
}

// Reads a record's view (32 or 64) into view; false, view unchanged, when it has none.
bool QueryView(HKEY key, DWORD& view) {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  DWORD read = 0;
  if (!QueryValue(key, kRecordView, type, data) || type != REG_DWORD || data.size() != sizeof read) return false;
  std::memcpy(&read, data.data(), sizeof read);
  if (read != 32 && read != 64) return false;
  view = read;
  return true;
}

// The record that the product keeps of the shared value that PACKAGE (as
// this package writes it) describes, if it keeps one. A field that cannot be
// read, missing or of another type, is the package's, so that a damaged
// record still gives back the value it kept.
std::optional<Record> ReadRecord(const Record& package) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(RootKey(package.location.root), RecordPath(package.id).c_str(), 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  Record record = package;
  QueryText(key, kRecordKeyName, record.location.key);
  QueryText(key, kRecordValueName, record.location.name);
  QueryView(key, record.location.view);
  QueryText(key, kRecordOurs, record.ours);
  RegistryValue replaced = record.location;
  if (QueryValue(key, kRecordReplaced, replaced.type, replaced.data)) record.replaced = replaced;
  RegCloseKey(key);
  return record;
}

bool WriteRecord(const Record& record) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(RootKey(record.location.root), RecordPath(record.id).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD view = record.location.view;
  const auto* viewBytes = reinterpret_cast<const BYTE*>(&view);
  bool written = SetValue(key, kRecordKeyName, REG_SZ, TextBytes(record.location.key)) &&
                 SetValue(key, kRecordValueName, REG_SZ, TextBytes(record.location.name)) &&
                 SetValue(key, kRecordView, REG_DWORD, {viewBytes, viewBytes + sizeof view}) &&
                 SetValue(key, kRecordOurs, REG_SZ, TextBytes(record.ours));
  if (written && record.replaced) {
    written = SetValue(key, kRecordReplaced, record.replaced->type, record.replaced->data);
  }
  RegCloseKey(key);
  return written;
}

bool KeyIsEmpty(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  const bool empty = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                      nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                     subkeys == 0 && values == 0;
  RegCloseKey(key);
  return empty;
}

// Drops every record below ROOT, and the product's key when nothing else is
// left in it (removal has taken its values by then).
bool ForgetRecords(int root) {
  const LONG deleted = RegDeleteTreeW(RootKey(root), kRecordsKey);
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return false;
  if (KeyIsEmpty(RootKey(root), kProductKey)) RegDeleteKeyExW(RootKey(root), kProductKey, KEY_WOW64_64KEY, 0);
  return true;
}

// The one row that QUERY (with one parameter, PARAMETER) selects.
bool SelectRow(MSIHANDLE install, const wchar_t* query, const std::wstring& parameter, PMSIHANDLE& row) {
  PMSIHANDLE database = MsiGetActiveDatabase(install);
  PMSIHANDLE view;
  if (MsiDatabaseOpenViewW(database, query, &view) != ERROR_SUCCESS) return false;
  PMSIHANDLE parameters = MsiCreateRecord(1);
  MsiRecordSetStringW(parameters, 1, parameter.c_str());
  return MsiViewExecute(view, parameters) == ERROR_SUCCESS && MsiViewFetch(view, &row) == ERROR_SUCCESS;
}

// The shared value of Registry row ID as this package writes it, in the view
// of its component; false when the tables have no such row.
bool PackageValue(MSIHANDLE install, const std::wstring& id, RegistryValue& location, std::wstring& ours) {
  PMSIHANDLE row;
  if (!SelectRow(install, L"SELECT `Root`, `Key`, `Name`, `Value`, `Component_` FROM `Registry` WHERE `Registry` = ?",
                 id, row)) {
    return false;
  }
  location.root = MsiRecordGetInteger(row, 1);
  location.key = WithoutTrailingBackslashes(Formatted(install, RecordString(row, 2)));
  location.name = Formatted(install, RecordString(row, 3));
  ours = Formatted(install, RecordString(row, 4));
  PMSIHANDLE component;
  if (!SelectRow(install, L"SELECT `Attributes` FROM `Component` WHERE `Component` = ?", RecordString(row, 5),
                 component)) {
    return false;
  }
  location.view = (MsiRecordGetInteger(component, 1) & kComponent64Bit) != 0 ? 64 : 32;
  return RootKey(location.root) != nullptr;
}

// What the deferred action is to do, gathered over the shared values.
struct Plan {
  std::vector<std::wstring> putBack;
  std::set<int> roots;
  std::vector<std::wstring> records;
};

// One shared value: the record the installed product keeps of it (if any)
// tells where it lives and what we wrote; the live value tells who holds it now.
bool PlanSharedValue(MSIHANDLE install, const std::wstring& id, bool removing, Plan& plan) {
  Record next;
  next.id = id;
  if (!PackageValue(install, id, next.location, next.ours)) {
    Log(install, (L"KvdThumb: no Registry row " + id + L" to keep another program's value of").c_str());
    return false;
  }
  const std::optional<Record> kept = ReadRecord(next);
  RegistryValue live = kept ? kept->location : next.location;
  const bool foreign = ReadValue(live) && !Holds(live, kept ? kept->ours : next.ours);
  plan.roots.insert(next.location.root);
  // Without a record (none kept on removal, or a value this version shares
  // first) a value of another text is another program's.
  if (foreign && (kept || removing)) {
    Log(install, (L"KvdThumb: keeping another program's value " + live.key + L"\\" + live.name).c_str());
    plan.putBack.push_back(Line(kPutBackLine).Value(live).text());
  } else if (removing && kept && kept->replaced) {
    Log(install, (L"KvdThumb: giving back the value replaced at " + live.key + L"\\" + live.name).c_str());
    plan.putBack.push_back(Line(kPutBackLine).Value(*kept->replaced).text());
  }
  if (removing) return true;
  // What we replaced stays ours to give back for as long as we are installed,
  // whoever holds the value meanwhile.
  if (kept) {
    next.replaced = kept->replaced;
  } else if (foreign) {
    Log(install, (L"KvdThumb: taking over " + live.key + L"\\" + live.name + L", kept for removal").c_str());
    next.replaced = live;
  }
  // The record's location carries the replaced value's type and data.
  RegistryValue location = next.location;
  if (next.replaced) {
    location.type = next.replaced->type;
    location.data = next.replaced->data;
  }
  const unsigned long hasReplaced = next.replaced ? 1 : 0;
  plan.records.push_back(Line(kRecordLine).Text(next.id).Text(next.ours).Value(location).Number(hasReplaced).text());
  return true;
}

}  // namespace

// Immediate: notes what to put back and which records to keep.
extern "C" UINT WINAPI NoteForeignValues(MSIHANDLE install) try {
  const bool removing = MsiEvaluateConditionW(install, kRemoving) == MSICONDITION_TRUE;
  Plan plan;
  const std::wstring shared = GetProperty(install, kSharedValuesProperty);
  for (const std::wstring_view id : Split(shared, L';')) {
    if (!id.empty() && !PlanSharedValue(install, std::wstring(id), removing, plan)) return ERROR_INSTALL_FAILURE;
  }
  std::wstring data;
  const auto append = [&data](const std::wstring& line) {
    if (!data.empty()) data += kRecordSeparator;
    data += line;
  };
  std::ranges::for_each(plan.putBack, append);
  for (const int root : plan.roots) append(Line(kForgetLine).Number(static_cast<unsigned long>(root)).text());
  std::ranges::for_each(plan.records, append);
  return MsiSetPropertyW(install, kRestoreAction, data.c_str());
} catch (...) {
  Log(install, L"KvdThumb: could not note the shared values (out of memory)");
  return ERROR_INSTALL_FAILURE;
}

namespace {

bool PutBack(Fields& fields) {
  RegistryValue value;
  return fields.Value(value) && fields.Complete() && WriteValue(value);
}

bool Forget(Fields& fields) {
  unsigned long root = 0;
  return fields.Number(root) && fields.Complete() && RootKey(static_cast<int>(root)) != nullptr &&
         ForgetRecords(static_cast<int>(root));
}

bool Keep(Fields& fields) {
  Record record;
  RegistryValue location;
  unsigned long replaced = 0;
  if (!fields.Text(record.id) || !fields.Text(record.ours) || !fields.Value(location) || !fields.Number(replaced) ||
      !fields.Complete()) {
    return false;
  }
  record.location = location;
  if (replaced != 0) record.replaced = location;
  return WriteRecord(record);
}

bool Carry(std::wstring_view line) {
  Fields fields(line);
  if (fields.Kind() == kPutBackLine) return PutBack(fields);
  if (fields.Kind() == kForgetLine) return Forget(fields);
  if (fields.Kind() == kRecordLine) return Keep(fields);
  return false;
}

}  // namespace

// Deferred, after the registry is written or cleaned: puts the noted values
// back, then renews the records (or drops them, on removal).
extern "C" UINT WINAPI RestoreForeignValues(MSIHANDLE install) try {
  const std::wstring lines = GetProperty(install, kRestoreData);
  for (const std::wstring_view line : Split(lines, kRecordSeparator)) {
    if (line.empty() || Carry(line)) continue;
    Log(install, L"KvdThumb: could not put back another program's value or keep the record of a shared value");
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
} catch (...) {
  Log(install, L"KvdThumb: could not put back the shared values (out of memory)");
  return ERROR_INSTALL_FAILURE;
}
