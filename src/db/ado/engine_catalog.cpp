#include <utility>

#include "db/ado/engine.h"
#include "db/ado/odbc_engine.h"
#include "db/ado/sqlite_engine.h"
#include "platform/text/text_codec.h"

namespace ado {

void EngineCatalog::add(std::wstring providerName, std::shared_ptr<Engine> engine) {
  for (auto& entry : engines_) {
    if (text::equalsNoCase(entry.first, providerName)) {
      entry.second = std::move(engine);
      return;
    }
  }
  engines_.emplace_back(std::move(providerName), std::move(engine));
}

std::shared_ptr<Engine> EngineCatalog::find(std::wstring_view providerName) const {
  for (const auto& entry : engines_)
    if (text::equalsNoCase(entry.first, providerName)) return entry.second;
  return nullptr;
}

std::shared_ptr<const EngineCatalog> EngineCatalog::standard() {
  static const std::shared_ptr<const EngineCatalog> catalog = [] {
    auto built = std::make_shared<EngineCatalog>();
    built->add(kJetProvider, std::make_shared<JetEngine>());
    auto sqlServer = std::make_shared<SqlServerEngine>();
    built->add(kSqlServerProvider, sqlServer);
    built->add(L"SQLOLEDB", sqlServer);
    return built;
  }();
  return catalog;
}

}  // namespace ado
