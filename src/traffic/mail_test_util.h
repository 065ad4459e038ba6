#pragma once
// Test support for the mail tests: the tests' mail provider library (testing/mail_provider/)
// given a script for the running test, and the calls it recorded.

#include <sstream>
#include <string>
#include <vector>

#include "platform/text/text_codec.h"
#include "testing/scoped_environment.h"
#include "testing/temp_dir.h"
#include "traffic/mail_provider_loader.h"

namespace mail_testing {

inline const std::wstring kTestMailProvider = text::fromUtf8(CADRO_TEST_MAIL_PROVIDER);

// The provider's script while the object lives (CADRO_TEST_MAIL_PROVIDER_SCRIPT); the
// provider records its calls into a file beside it.
class MailProviderScript {
 public:
  explicit MailProviderScript(const std::string& lines = "") {
    env_.set("CADRO_TEST_MAIL_PROVIDER_SCRIPT", dir_.file("script"));
    write(lines);
  }
  // Replaces the script.
  void write(const std::string& lines) { testing_support::writeFile(dir_.file("script"), "record " + record() + "\n" + lines); }
  std::string record() const { return dir_.file("calls"); }
  // The calls recorded so far, one per line, and forgets them.
  std::vector<std::string> takeCalls() {
    std::vector<std::string> calls;
    if (!testing_support::fileExists(record())) return calls;
    std::istringstream in(testing_support::readFile(record()));
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    testing_support::writeFile(record(), "");
    return calls;
  }
  const testing_support::TempDir& dir() const { return dir_; }

  // Provider objects straight from the library, without the management service.
  static mailmng::ProviderSource source() {
    return [] { return mailmng::ProviderHandle(mailmng::loadProviderLibrary(kTestMailProvider)); };
  }

 private:
  testing_support::TempDir dir_;
  testing_support::ScopedEnvironment env_;
};

}  // namespace mail_testing
