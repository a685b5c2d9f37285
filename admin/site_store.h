// Lookups of sites and accounts shared by the site, account and schedule commands.
#pragma once

#include <optional>
#include <string>

#include "admin/admin_context.h"
#include "admin/sqlite_access.h"

namespace veltrane::admin {

Database OpenSites(const AdminContext& context, Database::Access access);
Database OpenAccounts(const AdminContext& context, Database::Access access);

bool SiteExists(Database& sites, const std::string& name);

struct AccountSummary {
  std::string user;
  bool hasPassword = false;
};
std::optional<AccountSummary> FindAccount(Database& accounts, const std::string& site);

}  // namespace veltrane::admin
