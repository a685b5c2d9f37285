// SharedServerTest: the fixture of the tests that run built service instances
// on a throw-away PostgreSQL server: the server with a fresh database holding
// the service's schema, statements on it, and the web server of the sites,
// whose form posts it counts.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "storage/postgres/pg_database.h"
#include "storage/postgres/pg_stores.h"
#include "tests/support/postgres_server.h"
#include "tests/support/recording_http_server.h"

namespace veltrane::testing {

class SharedServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Running()) << server.Error();
    url = server.CreateDatabase("veltrane");
    ASSERT_FALSE(url.empty()) << server.Error();
    CreatePgSchema(url);
  }

  PgResult Query(const std::string& sql, const std::vector<PgParam>& params = {}) {
    return PgDatabase(url).Execute(sql, params);
  }
  long long Count(const std::string& sql) { return Query(sql).Integer(0, 0); }
  // The posts of the form of site `site`, whose form posts to /<site>/post.
  int Posts(const std::string& site) {
    return static_cast<int>(web.RequestsTo("/" + site + "/post").size());
  }

  PostgresServer server;
  std::string url;
  RecordingHttpServer web;
};

}  // namespace veltrane::testing
