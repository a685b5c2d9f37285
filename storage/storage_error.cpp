#include "storage/storage_error.h"

#include <sqlite3.h>

#include <utility>

namespace veltrane {
namespace {

StorageError::Kind KindOf(int code) {
  switch (code & 0xff) {
    case SQLITE_NOTADB: return StorageError::Kind::NotADatabase;
    case SQLITE_CORRUPT: return StorageError::Kind::Damaged;
    case SQLITE_CONSTRAINT: return StorageError::Kind::Refused;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return StorageError::Kind::Busy;
    default: return StorageError::Kind::Failure;
  }
}

}  // namespace

StorageError::StorageError(int code, std::string detail, std::string where)
    : StorageError(KindOf(code), code, std::move(detail), std::move(where)) {}

StorageError::StorageError(Kind kind, int code, std::string detail, std::string where)
    : std::runtime_error(MessageOf(code, detail)),
      kind_(kind),
      code_(code),
      detail_(std::move(detail)),
      where_(std::move(where)) {}

StorageError StorageError::WithStatement(std::string statement) const {
  StorageError error(*this);
  error.statement_ = std::move(statement);
  return error;
}

std::string StorageError::MessageOf(int code, const std::string& detail) {
  return std::string(CodeName(code)) + "[" + std::to_string(code) + "]: " + detail;
}

const char* StorageError::CodeName(int code) {
  switch (code) {
    case 0: return "SQLITE_OK";
    case 1: return "SQLITE_ERROR";
    case 2: return "SQLITE_INTERNAL";
    case 3: return "SQLITE_PERM";
    case 4: return "SQLITE_ABORT";
    case 5: return "SQLITE_BUSY";
    case 6: return "SQLITE_LOCKED";
    case 7: return "SQLITE_NOMEM";
    case 8: return "SQLITE_READONLY";
    case 9: return "SQLITE_INTERRUPT";
    case 10: return "SQLITE_IOERR";
    case 11: return "SQLITE_CORRUPT";
    case 12: return "SQLITE_NOTFOUND";
    case 13: return "SQLITE_FULL";
    case 14: return "SQLITE_CANTOPEN";
    case 15: return "SQLITE_PROTOCOL";
    case 16: return "SQLITE_EMPTY";
    case 17: return "SQLITE_SCHEMA";
    case 18: return "SQLITE_TOOBIG";
    case 19: return "SQLITE_CONSTRAINT";
    case 20: return "SQLITE_MISMATCH";
    case 21: return "SQLITE_MISUSE";
    case 22: return "SQLITE_NOLFS";
    case 23: return "SQLITE_AUTH";
    case 24: return "SQLITE_FORMAT";
    case 25: return "SQLITE_RANGE";
    case 100: return "SQLITE_ROW";
    case 101: return "SQLITE_DONE";
    case kLayerError: return "CPPSQLITE_ERROR";
    case kServerError: return "POSTGRESQL_ERROR";
    default: return "UNKNOWN_ERROR";
  }
}

}  // namespace veltrane
