// A tiny check helper for the Windows test programs: failures are counted and
// printed, and the program's exit code says whether any check failed.
#pragma once

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace check {

int Failures();
void Fail(const char* file, int line, const std::string& what);
// A crash on any thread (say a timer callback into an unloaded module) ends
// the process at once with a line saying so, rather than in a debugger.
void ReportCrashes();

// Thrown by REQUIRE: the rest of the scenario makes no sense after it.
struct Abort : std::runtime_error {
  using std::runtime_error::runtime_error;
};

template <typename T>
std::string Show(const T& value) {
  std::ostringstream out;
  if constexpr (std::is_integral_v<T> && sizeof(T) <= 4) {
    out << static_cast<long long>(value) << " (0x" << std::hex
        << (static_cast<unsigned long long>(value) & 0xFFFFFFFFull) << ")";
  } else {
    out << value;
  }
  return out.str();
}

}  // namespace check

#define CHECK(cond) ((cond) ? true : (check::Fail(__FILE__, __LINE__, "CHECK(" #cond ")"), false))

#define CHECK_EQ(a, b)                                                                        \
  [&] {                                                                                       \
    const auto& va_ = (a);                                                                    \
    const auto& vb_ = (b);                                                                    \
    if (va_ == vb_) return true;                                                              \
    check::Fail(__FILE__, __LINE__,                                                           \
                "CHECK_EQ(" #a ", " #b "): " + check::Show(va_) + " vs " + check::Show(vb_)); \
    return false;                                                                             \
  }()

#define CHECK_NEAR(value, want, tolerance)                                                \
  [&] {                                                                                   \
    const double v_ = (value);                                                            \
    if (v_ >= (want) - (tolerance) && v_ <= (want) + (tolerance)) return true;            \
    check::Fail(__FILE__, __LINE__,                                                       \
                "CHECK_NEAR(" #value ", " #want ", " #tolerance "): " + check::Show(v_)); \
    return false;                                                                         \
  }()

#define REQUIRE(cond)                                        \
  do {                                                       \
    if (!(cond)) {                                           \
      check::Fail(__FILE__, __LINE__, "REQUIRE(" #cond ")"); \
      throw check::Abort("requirement failed");              \
    }                                                        \
  } while (0)
