// OLE DB connection strings: the forms the program writes, quoting, and malformed text.
#include "db/ado/connection_string.h"

#include <gtest/gtest.h>

#include <string>

#include "db/ado/engine_error.h"

namespace {

using ado::ConnectionString;

TEST(ConnectionString, ReadsTheProgramsForms) {
  ConnectionString jet = ConnectionString::parse(L"Provider='Microsoft.Jet.OLEDB.4.0';Data Source=/var/db/cdr.mdb");
  EXPECT_EQ(jet.get(L"provider"), L"Microsoft.Jet.OLEDB.4.0");
  EXPECT_EQ(jet.get(L"DATA SOURCE"), L"/var/db/cdr.mdb");
  EXPECT_FALSE(jet.find(L"Initial Catalog"));

  ConnectionString sql =
      ConnectionString::parse(L"Provider=SQLOLEDB.1;Initial Catalog=master;Data Source=db;Network Library=dbnmpntw");
  ASSERT_EQ(sql.entries().size(), 4u);
  EXPECT_EQ(sql.entries()[1].first, L"Initial Catalog");
  EXPECT_EQ(sql.get(L"network library"), L"dbnmpntw");
}

TEST(ConnectionString, QuotedValuesBlanksAndRepeats) {
  ConnectionString s = ConnectionString::parse(
      L"  Data Source = \" a;b \" ; Password='it''s';Mode=Read;;Mode = Share Deny None ; Key==Name=x;Empty=");
  EXPECT_EQ(s.get(L"Data Source"), L" a;b ");
  EXPECT_EQ(s.get(L"password"), L"it's");
  EXPECT_EQ(s.get(L"Mode"), L"Share Deny None");  // the last one counts
  EXPECT_EQ(s.get(L"Key=Name"), L"x");
  EXPECT_EQ(s.get(L"Empty", L"default"), L"");
  EXPECT_EQ(ConnectionString::parse(L"").entries().size(), 0u);
  EXPECT_EQ(ConnectionString::parse(L";;  ;").entries().size(), 0u);
}

TEST(ConnectionString, RefusesMalformedText) {
  for (const wchar_t* text : {L"Provider", L"=x", L"  =x", L"a='open", L"a='x'y", L"a=1;b", L"a=\"x\" \"y\""}) {
    try {
      ConnectionString::parse(text);
      ADD_FAILURE() << "accepted a malformed string";
    } catch (const ado::EngineError& e) {
      EXPECT_EQ(e.text(), L"Format of the initialization string does not conform to the OLE DB rules.");
    }
  }
}

TEST(ConnectionString, FormatReadsBackAsTheSamePairs) {
  ConnectionString s;
  s.set(L"Provider", L"SQLOLEDB.1");
  s.set(L"Data Source", L"a;b");
  s.set(L"Password", L" 'x\" ");
  s.set(L"Key=Name", L"\"quoted\"");
  s.set(L"Leading", L"=equals");
  s.set(L"provider", L"Microsoft.Jet.OLEDB.4.0");  // replaces, keeps the place
  ConnectionString back = ConnectionString::parse(s.format());
  EXPECT_EQ(back.entries(), s.entries());
  EXPECT_EQ(back.entries()[0].second, L"Microsoft.Jet.OLEDB.4.0");
}

}  // namespace
