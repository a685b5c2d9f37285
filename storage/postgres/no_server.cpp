// A build without libpq: the stores of a configured PostgreSQL server fail
// at their first use, saying why, and the files work as ever.
#include "storage/postgres/pg_copy.h"
#include "storage/postgres/pg_session.h"
#include "storage/postgres/pg_stores.h"

namespace veltrane {
namespace {

[[noreturn]] void NoServerSupport() {
  throw StorageError(StorageError::Kind::Failure, StorageError::kServerError,
                     "this build of Veltrane has no PostgreSQL support (libpq was not found)",
                     "PostgreSQL server");
}

class NoServer : public sql::Database {
 public:
  std::unique_ptr<sql::Session> Open(sql::Access) const override { NoServerSupport(); }
};

class NoClaims : public JobClaims {
 public:
  std::optional<ClaimedJob> Claim(const InvalidSchedule&) override { NoServerSupport(); }
  int RenewLeases() override { NoServerSupport(); }
  ServerTime TimeBase() override { NoServerSupport(); }
};

}  // namespace

std::shared_ptr<sql::Database> MakeServerDatabase(std::string) {
  return std::make_shared<NoServer>();
}

std::unique_ptr<JobClaims> MakePgJobClaims(std::string, LeaseHolder) {
  return std::make_unique<NoClaims>();
}

void CreatePgSchema(const std::string&) { NoServerSupport(); }

std::vector<CopiedTable> CopySqliteToPostgres(const DatabasePaths&, const std::string&) {
  NoServerSupport();
}

}  // namespace veltrane
