// What the test host's fakes share: the imports each puts in place of the
// system's (sim_box.cpp patches them all), and the one record of the Win32
// contract breaches they see (the box model's).
#pragma once

#include <string>
#include <vector>

namespace box {

// A fake's state: one object built before main, while the process has one
// thread, and never destroyed, since the plug-in may call in late in the
// process.
template <typename State>
State& FakeState() {
  static State* state = new State;
  return *state;
}

struct Redirect {
  const char* dll;
  const char* function;
  void* replacement;
};

namespace detail {
std::vector<Redirect> PromptRedirects();  // fake_prompts.cpp
std::vector<Redirect> PowerRedirects();   // fake_power.cpp
void Breach(const std::string& what);     // sim_box.cpp
}  // namespace detail

}  // namespace box
