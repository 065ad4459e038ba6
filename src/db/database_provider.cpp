#include "db/database_provider.h"

#include <string_view>
#include <utility>

#include "db/jet_provider.h"
#include "db/mssql_provider.h"
#include "db/mysql_provider.h"
#include "platform/report/vexception.h"

// ---- VRecordSet

VRecordSet::VRecordSet(IDatabaseRecordSet* recordSet) : recordSet_(recordSet) {
  if (recordSet_) recordSet_->addRef();
}

VRecordSet::VRecordSet(const VRecordSet& other) : recordSet_(other.recordSet_) {
  if (recordSet_) recordSet_->addRef();
}

VRecordSet::VRecordSet(VRecordSet&& other) noexcept : recordSet_(std::exchange(other.recordSet_, nullptr)) {}

VRecordSet& VRecordSet::operator=(const VRecordSet& other) {
  if (other.recordSet_) other.recordSet_->addRef();
  IDatabaseRecordSet* previous = std::exchange(recordSet_, other.recordSet_);
  if (previous) previous->release();
  return *this;
}

VRecordSet& VRecordSet::operator=(VRecordSet&& other) noexcept {
  if (this != &other) {
    IDatabaseRecordSet* previous = std::exchange(recordSet_, std::exchange(other.recordSet_, nullptr));
    if (previous) previous->release();
  }
  return *this;
}

VRecordSet::~VRecordSet() {
  if (recordSet_) recordSet_->release();
}

IDatabaseRecordSet& VRecordSet::checked() const {
  if (!recordSet_) throw vexception(L"Record set is not opened", VCTX(L"", "VRecordSet::checked"));
  return *recordSet_;
}

int32_t VRecordSet::indexOf(const std::wstring& column, const char* operation) const {
  int32_t index = checked().columnIndex(column);
  if (index == -1) throw vexception(L"Unexpected query for column " + column, VCTX(L"", operation));
  return index;
}

std::wstring VRecordSet::get(const std::wstring& column, const std::wstring& defaultValue, bool emptyIsNull) {
  const int32_t index = indexOf(column, "VRecordSet::get");
  return recordSet_->get(index, defaultValue, emptyIsNull);
}

bool VRecordSet::isNull(const std::wstring& column, bool emptyIsNull) {
  const int32_t index = indexOf(column, "VRecordSet::isNull");
  return recordSet_->isNull(index, emptyIsNull);
}

bool VRecordSet::lookup(const std::wstring& column, std::wstring& out, bool emptyIsNull) {
  const int32_t index = indexOf(column, "VRecordSet::lookup");
  return recordSet_->lookup(index, out, emptyIsNull);
}

// ---- IDatabaseProvider

void IDatabaseProvider::setUserPassword(const std::wstring&, const std::wstring&) {}
void IDatabaseProvider::exportTables(std::wostream&) {}
void IDatabaseProvider::exportTablesToDocument(pugi::xml_document&) {}
void IDatabaseProvider::exportTableToDocument(pugi::xml_document&, const std::wstring&) {}

namespace {

std::unique_ptr<IDatabaseProvider> makeMySQL() { return std::make_unique<MySQLDatabaseProvider>(); }
std::unique_ptr<IDatabaseProvider> makeMSSQL() { return std::make_unique<MSSQLDatabaseProvider>(); }
std::unique_ptr<IDatabaseProvider> makeJet() { return std::make_unique<JetDatabaseProvider>(); }

// The engines by configured name.
struct ProviderEntry {
  std::wstring_view name;
  std::unique_ptr<IDatabaseProvider> (*make)();
};

constexpr ProviderEntry kProviders[] = {
    {L"MySQL", makeMySQL},
    {L"", makeMySQL},
    {L"MSSQL", makeMSSQL},
    {L"Jet", makeJet},
};

}  // namespace

std::unique_ptr<IDatabaseProvider> IDatabaseProvider::Create(const std::wstring& name) {
  for (const ProviderEntry& entry : kProviders) {
    if (entry.name == name) return entry.make();
  }
  throw vexception(L"Unable to build database provider " + name, VCTX(L"", "IDatabaseProvider::Create"));
}
