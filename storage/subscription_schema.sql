-- Table of db/subscription2.dat: the target sites and their step scripts.
CREATE TABLE IF NOT EXISTS subscription (
  name TEXT PRIMARY KEY,
  url TEXT,
  submission_data TEXT,
  extra_data TEXT
);
