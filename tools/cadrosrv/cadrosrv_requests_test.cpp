#include "cadrosrv/cadrosrv_requests.h"

#include <gtest/gtest.h>

#include "platform/service/cadrosrv_protocol.h"
#include "testing/temp_dir.h"

using namespace cadrosrv;

namespace {

const char* kConfig =
    "[settings]\n"
    "CADRO_DATABASE_PROVIDER_NAME = MSSQL\n"
    "PRODUCT_ROOT_D = /opt/cadro\n"
    "[passwords]\n"
    "pwd = s3cr=t\n"
    "[components]\n"
    "perl = /usr\n";

std::string request(const vserializer::guid& command, std::initializer_list<std::wstring> texts, int kind = -1) {
  vserializer::writer w;
  w.writeGuid(command);
  for (const std::wstring& t : texts) w.writeString(t);
  if (kind >= 0) w.writeInt32(kind);
  return w.bytes();
}

// The text of a reply, or the service's error message prefixed with "error: ".
std::wstring answerOf(const std::string& reply) {
  try {
    return vserializer::reader(reply).readString();
  } catch (const vserializer::invalidprotocol& e) {
    return L"protocol: " + e.message();
  } catch (const vexception& e) {
    return L"error: " + e.message();
  }
}

}  // namespace

TEST(ServiceRequests, AnswersEachCommandFromItsSection) {
  MemoryStore store(kConfig);
  EXPECT_EQ(answerOf(handleRequest(request(kGetString, {L"CADRO_DATABASE_PROVIDER_NAME"}), store)), L"MSSQL");
  EXPECT_EQ(answerOf(handleRequest(request(kGetPassword, {L"pwd"}), store)), L"s3cr=t");
  EXPECT_EQ(answerOf(handleRequest(request(kComponentInfo, {L"perl"}, 2), store)), L"/usr");

  EXPECT_EQ(answerOf(handleRequest(request(kGetString, {L"pwd"}), store)), L"error: Setting pwd is not defined");
  EXPECT_EQ(answerOf(handleRequest(request(kGetString, {L"product_root_d"}), store)),
            L"error: Setting product_root_d is not defined");
  EXPECT_EQ(answerOf(handleRequest(request(kGetPassword, {L"PRODUCT_ROOT_D"}), store)),
            L"error: Password PRODUCT_ROOT_D is not defined");
  EXPECT_EQ(answerOf(handleRequest(request(kComponentInfo, {L"perl"}, 1), store)),
            L"error: Component information of kind 1 is not available");
  EXPECT_EQ(answerOf(handleRequest(request(kComponentInfo, {L"php"}, 2), store)),
            L"error: Component php is not defined");
}

TEST(ServiceRequests, SetPasswordStoresAndAnswersEmpty) {
  MemoryStore store(kConfig);
  EXPECT_EQ(handleRequest(request(kSetPassword, {L"pwd", L"n\u00E9w"}), store), "");
  EXPECT_EQ(answerOf(handleRequest(request(kGetPassword, {L"pwd"}), store)), L"n\u00E9w");
  EXPECT_EQ(handleRequest(request(kSetPassword, {L"mail", L"m"}), store), "");
  EXPECT_EQ(answerOf(handleRequest(request(kGetPassword, {L"mail"}), store)), L"m");

  // A value that cannot be stored is refused, and the refusal does not echo it.
  std::wstring refused = answerOf(handleRequest(request(kSetPassword, {L"pwd", L"x\n[settings]"}), store));
  EXPECT_EQ(refused.rfind(L"error: ", 0), 0u);
  EXPECT_EQ(refused.find(L"settings"), std::wstring::npos);
  EXPECT_EQ(answerOf(handleRequest(request(kGetPassword, {L"pwd"}), store)), L"n\u00E9w");
}

TEST(ServiceRequests, MalformedRequestsGetErrorReplies) {
  MemoryStore store(kConfig);
  EXPECT_EQ(answerOf(handleRequest("", store)), L"error: Unexpected end of data when read from serializer.");
  vserializer::guid unknown{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(answerOf(handleRequest(request(unknown, {L"x"}), store)),
            L"error: Unknown command {00000001-0002-0003-0405-060708090A0B}");

  // Every truncation of every command is answered with an error, never a crash or a value.
  const std::string full[] = {request(kGetString, {L"PRODUCT_ROOT_D"}), request(kSetPassword, {L"pwd", L"v"}),
                              request(kComponentInfo, {L"perl"}, 2)};
  for (const std::string& r : full)
    for (size_t cut = 0; cut < r.size(); ++cut)
      EXPECT_EQ(answerOf(handleRequest(r.substr(0, cut), store)).rfind(L"error: ", 0), 0u) << cut;
  EXPECT_EQ(answerOf(handleRequest(request(kGetPassword, {L"pwd"}), store)), L"s3cr=t") << "nothing was stored";
}

TEST(ServiceRequests, FileStoreReadsOnEveryRequestAndWritesBack) {
  testing_support::TempDir dir;
  const std::string path = dir.file("cadrosrv.ini");
  FileStore store(path);
  EXPECT_EQ(answerOf(handleRequest(request(kGetString, {L"A"}), store)).rfind(L"error: ", 0), 0u)
      << "a missing file is an error reply";

  // The first password creates the file.
  EXPECT_EQ(handleRequest(request(kSetPassword, {L"pwd", L"p"}), store), "");
  EXPECT_EQ(testing_support::readFile(path), "[passwords]\npwd = p\n");

  testing_support::writeFile(path, "; edited by hand\n[settings]\nA = 1\n[passwords]\npwd = p\n");
  EXPECT_EQ(answerOf(handleRequest(request(kGetString, {L"A"}), store)), L"1");
  EXPECT_EQ(handleRequest(request(kSetPassword, {L"pwd", L"q"}), store), "");
  EXPECT_EQ(testing_support::readFile(path), "; edited by hand\n[settings]\nA = 1\n[passwords]\npwd = q\n");
}
