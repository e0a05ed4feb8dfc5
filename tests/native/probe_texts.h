// The check program's texts as a probe: in place of each text, which text
// it is and the arguments it was given, so that a test asserts on what the
// program chose to say, not on the wording. Text i of the table reads "<i>"
// and then, for each printf conversion of its English, a '|' and that
// conversion; a text that ends a line still does.
#pragma once

#include <cstring>
#include <initializer_list>
#include <regex>
#include <string>
#include <vector>

#include "tools/check/texts.h"

// The printf conversions of a text, in order ("%%" among them).
inline std::vector<std::string> Conversions(const char* text) {
  static const std::regex conversion("%[-+#0]*[0-9]*(\\.[0-9]+)?(ll|l|h)?[diouxXfgcs%]");
  std::vector<std::string> found;
  for (std::cregex_iterator at(text, text + std::strlen(text), conversion), end; at != end; ++at) {
    found.push_back(at->str());
  }
  return found;
}

class ProbeTexts {
 public:
  static constexpr size_t kCount = sizeof(Texts) / sizeof(const char*);
  static_assert(sizeof(Texts) % sizeof(const char*) == 0, "texts only");

  ProbeTexts() {
    const auto* english = reinterpret_cast<const char* const*>(&kTextsEnglish);
    for (size_t i = 0; i < kCount; ++i) {
      std::string probe = "<" + std::to_string(i) + ">";
      for (const std::string& conversion : Conversions(english[i])) {
        if (conversion != "%%") probe += "|" + conversion;
      }
      const size_t length = std::strlen(english[i]);
      if (length > 0 && english[i][length - 1] == '\n') probe += "\n";
      storage_.push_back(probe);
    }
    auto* texts = reinterpret_cast<const char**>(&texts_);
    for (size_t i = 0; i < kCount; ++i) texts[i] = storage_[i].c_str();
  }
  ProbeTexts(const ProbeTexts&) = delete;
  ProbeTexts& operator=(const ProbeTexts&) = delete;

  const Texts& texts() const { return texts_; }

  // What the probe says for a text of the English table (named as
  // kTextsEnglish.status.timingPoorAction, say) given these arguments, as
  // printf writes them.
  static std::string Said(const char* const& englishText,
                          std::initializer_list<std::string> arguments = {}) {
    const size_t index = &englishText - reinterpret_cast<const char* const*>(&kTextsEnglish);
    std::string said = "<" + std::to_string(index) + ">";
    for (const std::string& argument : arguments) said += "|" + argument;
    const size_t length = std::strlen(englishText);
    return length > 0 && englishText[length - 1] == '\n' ? said + "\n" : said;
  }

 private:
  std::vector<std::string> storage_;
  Texts texts_{};
};
