#include "admin/site_store.h"

namespace veltrane::admin {

Database OpenSites(const AdminContext& context, Database::Access access) {
  return Database::OpenExisting(context.SubscriptionPath(), access, {"subscription"});
}

Database OpenAccounts(const AdminContext& context, Database::Access access) {
  return Database::OpenExisting(context.MainPath(), access, {"account"});
}

bool SiteExists(Database& sites, const std::string& name) {
  Statement query = sites.Prepare("SELECT 1 FROM subscription WHERE name = ?");
  query.Bind(1, name);
  return query.Step();
}

std::optional<AccountSummary> FindAccount(Database& accounts, const std::string& site) {
  Statement query = accounts.Prepare("SELECT username, password FROM account WHERE name = ?");
  query.Bind(1, site);
  if (!query.Step()) return std::nullopt;
  return AccountSummary{query.Text(0), !query.Text(1).empty()};
}

}  // namespace veltrane::admin
