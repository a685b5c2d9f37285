// The tables of a PostgreSQL store: the tables and columns of the two SQLite
// files (vt.dat and subscription2.dat) in one schema, with server types. The
// job table also records which service instance holds a job and until when
// (its lease, in the server's time), so that a job whose instance died can be
// taken over by another, and marks the trials of 'site try --submit' (see
// HistoryStore::RecordTrial). Every statement is CREATE ... IF NOT EXISTS or
// ALTER TABLE ... ADD COLUMN IF NOT EXISTS, so it brings an older server up to date.
#pragma once

namespace veltrane {

const char* PostgresSchema();

}  // namespace veltrane
