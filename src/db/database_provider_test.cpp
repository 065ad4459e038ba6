// Provider creation by name and the ownership rules of the record-set handle.
#include "db/database_provider.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/report/vexception.h"

namespace {

TEST(DatabaseProviderCreate, BuildsEachEngineForItsExactName) {
  EXPECT_EQ(IDatabaseProvider::Create(L"MySQL")->providerName(), L"MySQL");
  EXPECT_EQ(IDatabaseProvider::Create(L"")->providerName(), L"MySQL");
  EXPECT_EQ(IDatabaseProvider::Create(L"Jet")->providerName(), L"Jet");
  EXPECT_EQ(IDatabaseProvider::Create(L"MSSQL")->providerName(), L"MSSQL");
}

TEST(DatabaseProviderCreate, RejectsOtherNamesExactly) {
  for (const wchar_t* name : {L"mysql", L"MYSQL", L"Oracle", L" MySQL", L"jet", L"MsSql"}) {
    try {
      IDatabaseProvider::Create(name);
      ADD_FAILURE() << "built a provider for an unsupported name";
    } catch (const vexception& e) {
      EXPECT_EQ(e.message(), std::wstring(L"Unable to build database provider ") + name);
      ASSERT_FALSE(e.contexts().empty());
      EXPECT_EQ(e.contexts().front().operation, "IDatabaseProvider::Create");
    }
  }
}

// A record set that counts its own deletion.
class CountedRecordSet : public IDatabaseRecordSet {
 public:
  explicit CountedRecordSet(int& deleted) : deleted_(deleted) {}
  bool next() override { return false; }
  bool first() override { return false; }
  bool last() override { return false; }
  int32_t fieldCount() override { return 1; }
  int32_t columnIndex(const std::wstring& name) override { return name == L"only" ? 0 : -1; }
  bool hasColumn(const std::wstring& name) override { return columnIndex(name) != -1; }
  std::wstring columnName(int32_t) override { return L"only"; }
  bool isNull(int32_t, bool) override { return true; }
  bool isEmpty(int32_t, bool nullIsEmpty) override { return nullIsEmpty; }
  std::wstring get(int32_t, const std::wstring& defaultValue, bool) override { return defaultValue; }
  bool lookup(int32_t, std::wstring&, bool) override { return false; }
  int32_t rowCount() override { return 0; }

 protected:
  ~CountedRecordSet() override { ++deleted_; }

 private:
  int& deleted_;
};

TEST(VRecordSetHandle, TheLastHandleFreesTheRecordSet) {
  int deleted = 0;
  {
    VRecordSet first(new CountedRecordSet(deleted));
    VRecordSet copy = first;
    VRecordSet moved = std::move(first);
    EXPECT_TRUE(first.empty());
    copy = copy;
    copy = moved;
    moved = VRecordSet();
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(copy.get(L"only", L"default"), L"default");
  }
  EXPECT_EQ(deleted, 1);

  VRecordSet a(new CountedRecordSet(deleted));
  VRecordSet b(new CountedRecordSet(deleted));
  a = b;  // a's record set goes now, b's with the last of them
  EXPECT_EQ(deleted, 2);
  a = std::move(b);
  EXPECT_EQ(deleted, 2);
  a = VRecordSet();
  EXPECT_EQ(deleted, 3);
}

TEST(VRecordSetHandle, AnEmptyHandleThrowsInsteadOfCrashing) {
  VRecordSet none;
  EXPECT_THROW(none.next(), vexception);
  EXPECT_THROW(none.get(L"column"), vexception);
}

}  // namespace
