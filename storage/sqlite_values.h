// The seam's values as the SQLite core binds them: views of the texts, which
// must outlive the statement's preparation. Internal to storage/.
#pragma once

#include <vector>

#include "storage/sql_session.h"
#include "storage/sqlite_core.h"

namespace veltrane::sql {

inline std::vector<sqlite::Value> SqliteValues(const Values& params) {
  std::vector<sqlite::Value> values;
  values.reserve(params.size());
  for (const Value& param : params)
    values.push_back(
        std::visit([](const auto& value) { return sqlite::Value(value); }, param.Get()));
  return values;
}

}  // namespace veltrane::sql
