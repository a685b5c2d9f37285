-- Tables of db/vt.dat. The service reads and writes these columns only;
-- further columns do no harm, since whole rows are read with SELECT *.
CREATE TABLE IF NOT EXISTS schedule (
  id INTEGER PRIMARY KEY,
  name TEXT,
  subscription TEXT,
  frequency INTEGER,
  start_date INTEGER,
  end_date INTEGER,
  time REAL,
  next REAL
);
CREATE INDEX IF NOT EXISTS schedule_next ON schedule(next);

CREATE TABLE IF NOT EXISTS pressrelease (
  name TEXT PRIMARY KEY,
  contact_data TEXT,
  headline TEXT,
  summary TEXT,
  keyword TEXT,
  category TEXT,
  release_date INTEGER,
  news_body TEXT,
  about_company TEXT,
  contact_detail TEXT,
  extra_data TEXT
);

CREATE TABLE IF NOT EXISTS account (
  name TEXT PRIMARY KEY,
  username TEXT,
  password TEXT
);

CREATE TABLE IF NOT EXISTS history (
  id INTEGER PRIMARY KEY,
  name TEXT,
  time TEXT,
  status TEXT,
  content TEXT,
  subscription TEXT
);
