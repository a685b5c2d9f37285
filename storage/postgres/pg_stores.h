// What only a PostgreSQL server has: its tables made by the administrator
// (init), and the claims of the service instances that share it. A server
// that cannot be reached is a StorageError of kind Unreachable.
#pragma once

#include <memory>
#include <string>

#include "storage/job_claims.h"

namespace veltrane {

std::unique_ptr<JobClaims> MakePgJobClaims(std::string url, LeaseHolder holder);

// Creates the tables that are missing, and the columns that came later.
void CreatePgSchema(const std::string& url);

}  // namespace veltrane
