-- The job journal of db/vt.dat: every job and every site's outcome as it
-- ends, so that a job cut short (a crash, a kill, a power cut) is finished
-- after the next start instead of being lost, and what each site showed (its
-- evidence), so that a person can judge a site without running it again. A
-- trial that sent its release is kept here too, as a job marked trial that
-- is finished when it is written and has no history row. The
-- service creates these tables itself when a database made before them lacks
-- them, and adds the columns a table made before them lacks.
CREATE TABLE IF NOT EXISTS job (
  id INTEGER PRIMARY KEY,
  schedule_id INTEGER,
  name TEXT,          -- the press release, once the job has started
  subscription TEXT,  -- the job's site list as it started, one name per line
  queued REAL,        -- when the schedule thread took the schedule
  started REAL,       -- NULL while the job waits in the queue
  finished REAL,      -- NULL until the job's history row is written
  history_id INTEGER, -- the rowid of that history row
  trial INTEGER       -- 1: a run of 'site try --submit', recorded finished, never resumed
);

CREATE TABLE IF NOT EXISTS job_site (
  job_id INTEGER,
  schedule_id INTEGER,
  position INTEGER,  -- the site's place in the job's site list, from 0
  site TEXT,
  status TEXT,       -- 'Completed' or 'Failed'
  reason TEXT,
  started REAL,
  ended REAL,
  last_url TEXT,     -- the address of the last page the site was on
  last_status INTEGER,  -- the HTTP status of that page; 0 when unknown
  success_text TEXT,    -- the success text of the step the site ended on, found or not
  pages INTEGER,        -- top-level pages completed while the site ran
  screenshot TEXT,      -- the failed page's picture, a file name in shots/
  notes TEXT,           -- such as "form changed: missing <names>"
  network_error TEXT,   -- the engine's message when the last page did not load; '' otherwise
  PRIMARY KEY (job_id, position)
);
