#pragma once

// Checks for the test programs that run under Wine, where there is no test
// framework (GoogleTest is not packaged for mingw-w64). A failed check prints
// where it failed and what it saw, and the program's exit status reports
// whether any check failed.

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

namespace kvd::wine {

void ReportFailure(const char* file, int line, const std::string& message);

// 0 when every check passed, else 1.
int ExitStatus();

template <typename T>
std::string Describe(const T& value) {
  if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
    char text[32];
    std::snprintf(text, sizeof text, "%p", static_cast<const volatile void*>(value));
    return text;
  } else {
    static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "checks compare numbers and pointers");
    const auto number = static_cast<std::int64_t>(value);
    char text[48];
    std::snprintf(text, sizeof text, "%lld (0x%llX)", static_cast<long long>(number),
                  static_cast<unsigned long long>(static_cast<std::uint32_t>(number)));
    return text;
  }
}

template <typename A, typename E>
bool CheckEqual(const A& actual, const E& expected, const char* expression, const char* file, int line) {
  if (actual == expected) return true;
  ReportFailure(file, line, std::string(expression) + " is " + Describe(actual) + ", expected " + Describe(expected));
  return false;
}

inline bool Check(bool condition, const char* expression, const char* file, int line) {
  if (!condition) ReportFailure(file, line, std::string(expression) + " is false");
  return condition;
}

}  // namespace kvd::wine

// Each evaluates to whether the check held, so that a test can stop where
// going on would only repeat the failure.
#define KVD_CHECK(condition) ::kvd::wine::Check((condition), #condition, __FILE__, __LINE__)
#define KVD_CHECK_EQ(actual, expected) \
  ::kvd::wine::CheckEqual((actual), (expected), #actual, __FILE__, __LINE__)
