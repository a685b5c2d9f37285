// The commands with their help texts; the help is the tool's manual.
#include "admin/admin_error.h"
#include "admin/commands.h"
#include "authoring/authoring_commands.h"

namespace veltrane::admin {
namespace {

// The authoring commands (authoring/), which throw this tool's command errors.
template <void (*Run)(const authoring::CommandIo&, const authoring::CommandArguments&)>
void RunAuthoring(AdminContext& context, Arguments args) {
  Run({context.dir, context.Stores(), context.io.out, context.io.err}, {args.begin(), args.end()});
}

constexpr std::string_view kReleaseFormat =
    "A press release file is plain text (UTF-8). It starts with 'key: value' lines;\n"
    "keys ignore letter case, '#' starts a comment line. The keys:\n"
    "  name              the release's name, its key (required)\n"
    "  headline, summary, category\n"
    "  release_date      YYYY-MM-DD; empty means the day the service runs it\n"
    "  keywords          comma-separated; may be repeated\n"
    "  keyword           one keyword that may hold a comma; may be repeated\n"
    "  company_name, contact_person, email, website, country, phonenumber, fax,\n"
    "  street_address, city, state, zipcode\n"
    "                    the contact details the sites' forms are filled from\n"
    "  category.SITE     the category chosen on site SITE (one line per site)\n"
    "A blank line or the first section ends these lines. Sections hold texts of\n"
    "several lines, up to the next section: [body] the release's text, [about] the\n"
    "company description, [contact] the contact paragraph, [summary] a summary of\n"
    "several lines (instead of the summary key). Blank lines around a section's text\n"
    "are dropped; a line holding only a section name always starts that section.\n\n"
    "Example:\n"
    "  name: Spring launch\n"
    "  headline: Acme ships the Widget 2\n"
    "  summary: The second Widget is here.\n"
    "  category: Technology\n"
    "  release_date: 2024-05-01\n"
    "  keywords: widgets, acme\n"
    "  company_name: Acme Ltd\n"
    "  email: press@acme.example\n"
    "  country: United Kingdom\n"
    "  category.PR Daily: Computers\n"
    "\n"
    "  [body]\n"
    "  London, 1 May 2024. Acme today ...\n"
    "\n"
    "  [about]\n"
    "  Acme makes widgets.\n"
    "\n"
    "  [contact]\n"
    "  Jane Doe, press@acme.example\n\n"
    "FILE '-' reads the file from standard input.\n";

constexpr std::string_view kInUse =
    "Refused (exit code 1, nothing changed) while a job that uses it has not ended:\n"
    "one queued, running, or cut short and waiting to be resumed at the service's\n"
    "next start, and on a shared server one that another instance holds or will take\n"
    "over. A job uses its schedule, its release and its sites.\n";

constexpr Command kCommands[] = {
    {"", "init", "[DIR]", "create DIR/db/ and the two database files where missing",
     "Creates DIR (default: the folder the tool works on, see --help), DIR/db/,\n"
     "db/vt.dat and db/subscription2.dat with their tables. An existing database file\n"
     "is never altered or emptied; only a file that holds no table at all (as the\n"
     "service leaves one when it ran without databases) gets the tables. A file that\n"
     "is not an SQLite database is a data error. The files hold the sites' passwords,\n"
     "so new ones are readable and writable by their owner only (mode 0600), and an\n"
     "existing one that group or others may read or write is tightened to that.\n"
     "A DIR/db/ it creates is its owner's alone as well (mode 0700).\n"
     "With a PostgreSQL server configured ($VELTRANE_DATABASE_URL, or a line\n"
     "'database_url = ...' in DIR/veltrane.conf), it creates the tables the server\n"
     "lacks instead, and DIR/db/ for the reports that cannot reach the server.\n",
     RunInit},
    {"", "status", "[--json]", "what each running instance of the service does now",
     "Shows every instance of the service that published its status in the store\n"
     "(the one beside DIR's files, or each instance on a shared server), newest first:\n"
     "its host, process id and version, when it started, its last poll and how that\n"
     "ended, the job in hand (schedule, release, site k of n, the current site and\n"
     "since when), the schedules queued in it, the reports waiting in its db/ folder\n"
     "for the store (spool backlog) and its last error with when. Then the next\n"
     "schedules to fall due (at most 5). An instance refreshes its status at every\n"
     "poll and every site, and removes it when it ends cleanly; one that stopped\n"
     "refreshing within its limit (five poll intervals) is shown STALE, with since\n"
     "when: it was killed, hangs, or lost the store. The status of one that was\n"
     "killed is removed, once stale, by the next instance on its host. Times are the\n"
     "store's ('YYYY-MM-DD HH:MM:SS', the server's local time on a server).\n"
     "--json prints one JSON object: {\"healthy\", \"now\", \"instances\": [{\"instance\",\n"
     "\"host\", \"pid\", \"version\", \"started\", \"refreshed\", \"healthy\", \"stale\",\n"
     "\"staleSince\" (null unless stale), \"lastPoll\" (null before the first),\n"
     "\"lastPollError\" (null when it succeeded), \"job\" (null, or {\"schedule\",\n"
     "\"scheduleName\", \"release\", \"siteNumber\" (0 before its first site),\n"
     "\"siteCount\", \"site\", \"siteSince\"}), \"queued\" (schedule ids),\n"
     "\"spoolBacklog\", \"lastError\", \"lastErrorAt\" (null when none)}], \"nextDue\":\n"
     "[{\"id\", \"release\", \"next\", \"due\"}]}.\n"
     "Exit code 0 when at least one instance runs and every one is healthy (not\n"
     "stale, its last poll succeeded); 1 otherwise, with a line on standard error\n"
     "saying how many are not, or that none runs: monitoring can call it.\n",
     RunStatus},
    {"", "copy", "--to URL [DIR]", "copy DIR's two database files into a PostgreSQL server",
     "Copies every row of DIR/db/vt.dat and DIR/db/subscription2.dat into the\n"
     "PostgreSQL server at URL (a libpq connection string), creating its tables\n"
     "where missing, in one transaction. Rows already on the server (the same key)\n"
     "are left as they are. Stop the service that uses the files first; jobs it left\n"
     "unfinished are finished by an instance on the server.\n",
     RunCopy},
    {"release", "add", "FILE", "add a press release from a file",
     "Adds the press release described in FILE; its name must be new.\n\n", RunReleaseAdd,
     kReleaseFormat},
    {"release", "update", "FILE", "replace a press release with a file's content",
     "Replaces every field of the press release named in FILE with the file's content\n"
     "(a field the file leaves out becomes empty). 'release show NAME > FILE' gives a\n"
     "file to edit.\n\n",
     RunReleaseUpdate, kReleaseFormat},
    {"release", "list", "[--json]", "list the press releases",
     "Lists each release's name, release date ('(day of run)' when it has none) and\n"
     "headline, by name.\n"
     "--json prints one JSON object: {\"releases\": [{\"name\", \"releaseDate\"\n"
     "(YYYY-MM-DD, or null: the day of the run), \"headline\"}]}.\n",
     RunReleaseList},
    {"release", "show", "NAME", "print a press release in the file format",
     "Prints the press release as a file that 'release update' reads back.\n", RunReleaseShow},
    {"release", "remove", "NAME [--force]", "remove a press release",
     "Removes press release NAME. Refused (exit code 3) while a schedule names it,\n"
     "unless --force is given: the service drops such a schedule's jobs without\n"
     "running them, so remove or disable the schedule as well; with --force their ids\n"
     "are given in a warning. History rows that name the release are kept.\n",
     RunReleaseRemove, kInUse},
    {"site", "add", "NAME --url URL --script FILE", "add a site with its start address and script",
     "Adds site NAME (no quote, '=', ',' or control characters, no blank at either end)\n"
     "with its start address and the step script read from FILE ('-': standard input).\n"
     "The script is checked as 'site check' does: a script without step 1 (no [STEP1]\n"
     "section with at least one line) or holding a NUL byte is refused; warnings go\n"
     "to standard error and do not stop the command. A UTF-8 byte-order mark before\n"
     "the script is dropped.\n",
     RunSiteAdd},
    {"site", "update", "NAME [--url URL] [--script FILE]", "change a site's address or script",
     "Replaces the start address, the script or both of an existing site. The script\n"
     "is checked as with 'site add': one without step 1 or holding a NUL byte is\n"
     "refused.\n",
     RunSiteUpdate},
    {"site", "list", "[--failing [--runs K]] [--json]", "list the sites, or those failing now",
     "Lists each site with its start address, its number of steps and its account's\n"
     "user, by name. --json prints one JSON object: {\"sites\": [{\"name\", \"url\",\n"
     "\"steps\", \"user\" (null without an account)}]}.\n\n"
     "With --failing, lists instead the sites whose newest K outcomes (default 1: the\n"
     "newest) all failed, by name: how many failed in a row since it last completed,\n"
     "when the newest ended, when the site last completed ('never' when it never\n"
     "did), the newest outcome's reason and screenshot (in DIR/shots/). Outcomes are\n"
     "those 'site history' lists, trials sent with 'site try --submit' among them;\n"
     "a site with fewer than K outcomes is not listed, nor one no longer there.\n"
     "--json prints one JSON object: {\"runs\": K, \"sites\": [{\"name\",\n"
     "\"failedInARow\", \"lastRun\", \"lastReason\", \"lastUrl\", \"lastCompleted\"\n"
     "(null: never), \"screenshot\" (its path, or null)}]}. Times are local, as\n"
     "'YYYY-MM-DD HH:MM:SS'.\n",
     RunSiteList},
    {"site", "show", "NAME", "print a site's address, account user and script",
     "The password is never printed.\n", RunSiteShow},
    {"site", "remove", "NAME", "remove a site and its account",
     "Removes site NAME (its start address and script) and its account (the login\n"
     "'account set' stored). Its history stays: history rows, 'site history' and the\n"
     "screenshots keep its outcomes until 'history prune' removes them. Schedules\n"
     "that still list the site are named in a warning; the service fails the site\n"
     "in their jobs ('Cant find info for subscription') until it is added again.\n",
     RunSiteRemove, kInUse},
    {"site", "check", "NAME | --file FILE", "print a script's steps as the service reads them",
     "Reads the script of site NAME, or of FILE, as the service does and prints each\n"
     "step: its keys and values in order (a key written twice shows its last value),\n"
     "the form fields, and what the step does. A script without step 1, or holding a\n"
     "NUL byte, is an error: the service fails such a site at once. Warnings name\n"
     "steps that do nothing, steps the service never reaches (gaps in the numbering,\n"
     "[STEP01], empty steps), sections that are not steps, section lines with more\n"
     "after the ']' (not sections at all), keys that look like a misspelled APP-\n"
     "directive, directives written in lower case (found, but also taken for form\n"
     "fields), keys that a step ignores, and APP-FormPos or APP-WaitForRedirect values\n"
     "that are not plain integers. Prints 'no warnings' when there are neither errors\n"
     "nor warnings. The exit code is 3 when there is an error, 0 otherwise.\n",
     RunSiteCheck},
    {"site", "try", "NAME --release NAME [--submit] [--shots DIR]",
     "run one site's script with a release, as the service would",
     "Runs the script of site NAME with press release NAME exactly as the service\n"
     "runs it: the service's browser window, engine, navigation guards, page deadline,\n"
     "placeholders and list choices, on the databases in DIR/db (each read once and\n"
     "let go, so a running service is not held up). The trace goes to standard\n"
     "output, each line stamped to the millisecond, and every page the site handled\n"
     "is saved as a PNG (page-01.png, ...) in DIR/tries/YYYYMMDD-HHMMSS-SITE/, or in\n"
     "--shots DIR. A summary follows: how the site ended, its last page and HTTP\n"
     "status (or its network error), the pages loaded, the success text, forms that lack controls "
     "the\n"
     "script names.\n"
     "The release is not sent unless --submit is given: a login form (one its step\n"
     "fills with $$username$$ or $$password$$) is still sent, and the first other\n"
     "form is filled but not sent; each field it would post with its value, and its\n"
     "button, are printed. Nothing is recorded then. --no-submit asks for the same\n"
     "and is kept for scripts that give it.\n"
     "With --submit the site really gets the release, and the trial is recorded among\n"
     "the site's outcomes with its evidence (its last picture as its screenshot):\n"
     "'site history NAME' lists it as a trial, so a later scheduled run of the same\n"
     "release can be seen to be the second. A trial is never a job of the service: no\n"
     "history row is written and the service never resumes it.\n"
     "The pages load in a private browser store: no cookies are kept. Without DISPLAY\n"
     "an Xvfb of the tool's own is used. Exit code 0 when the site stopped before the\n"
     "release or completed; 4 when the site failed; 1 when it did not end, or when a\n"
     "trial with --submit could not be recorded; 2 for --submit with --no-submit.\n",
     RunAuthoring<authoring::RunSiteTry>},
    {"site", "history", "NAME [--limit N]", "list a site's latest outcomes with their evidence",
     "Lists the latest N (default 10) outcomes of site NAME in the service's jobs and\n"
     "in trials sent with 'site try --submit', newest first: when it ended, the\n"
     "release, the history row ('trial' for a trial, which has none), how it ended, the\n"
     "HTTP status of its last page, the pages loaded, the reason and notes (such as\n"
     "'form changed: missing NAMES', or 'network error: MESSAGE' when the last page\n"
     "did not load). The first line says whether the site completed\n"
     "last time, and marks a site that fails after it used to complete as FAILING.\n",
     RunSiteHistory},
    {"site", "stats", "[--days N] [--json]", "each site's runs and success rate over N days",
     "For each site with an outcome that ended in the last N days (default 30), by\n"
     "name: its runs, how many completed and failed, the share that completed, and\n"
     "its most common reason for failing with how often it was given (the newest of\n"
     "equally common ones). Outcomes are those 'site history' lists, trials sent\n"
     "with 'site try --submit' among them.\n"
     "--json prints one JSON object: {\"days\": N, \"since\", \"sites\": [{\"name\",\n"
     "\"runs\", \"completed\", \"failed\", \"successRate\" (completed / runs, from 0 to\n"
     "1), \"commonReason\" (null when none failed), \"commonReasonCount\"}]}. Times are\n"
     "local, as 'YYYY-MM-DD HH:MM:SS'.\n",
     RunSiteStats},
    {"account", "set", "SITE --user NAME", "set a site's user name and password",
     "Sets the login for site SITE. The password is read from standard input (the\n"
     "first line, without its line break); it is never taken from the command line.\n"
     "On a terminal the tool asks for it and does not echo it. Example:\n"
     "  printf '%s\\n' \"$PASSWORD\" | veltrane-admin account set 'PR Daily' --user acme\n",
     RunAccountSet},
    {"schedule", "add", "--release NAME --sites A,B,C --frequency FREQ --first WHEN [--time T]",
     "schedule a press release for a list of sites",
     "Adds a schedule: the press release NAME is submitted to the sites in the order\n"
     "given (comma-separated; each must exist). FREQ is once, daily, weekly or\n"
     "every-30-days (100000, 1, 7 or 30 days), or a whole-number code as the service\n"
     "stores it: 0-3 for those, any other code adds no days, so T alone is the\n"
     "interval. WHEN is the first run as local 'YYYY-MM-DD HH:MM', or 'now' (the\n"
     "service picks it up at its next poll, within a minute). After each run the\n"
     "service moves the next run on by the frequency's days plus T, which is a number\n"
     "of days (0.25) or HH:MM (06:00 = a quarter day), either with a leading '-' to\n"
     "subtract; default 0. The days plus T must be more than 0: a schedule that never\n"
     "moves on would be due at every poll, so it is refused (the service skips one).\n"
     "Prints the new id. A site without an account gives a warning.\n",
     RunScheduleAdd},
    {"schedule", "list", "[--json]", "list schedules with their next run in local time",
     "A schedule that ran with frequency once shows 'done' as its next run. One that\n"
     "never moves on (its frequency's days plus its time are not more than 0, so it\n"
     "would be due at every poll; the service skips it) is marked invalid, with why.\n"
     "A disabled one ('schedule disable') is marked '(disabled)' and is never due.\n"
     "--json prints one JSON object: {\"schedules\": [{\"id\" (a number; the stored\n"
     "text when it is none), \"release\", \"sites\" (an array), \"frequency\" (the\n"
     "code: 0 once, 1 daily, 2 weekly, 3 every-30-days, others add no days), \"time\"\n"
     "(days), \"next\" ('YYYY-MM-DD HH:MM:SS' local, or null when none or done),\n"
     "\"done\", \"due\", \"disabled\", \"invalid\" (why, or null)}]}, in the order\n"
     "listed. On a\n"
     "shared server, by whose time every instance runs schedules: the list ends with\n"
     "the server's zone and time, and the object has \"time_base\": {\"zone\",\n"
     "\"utc_offset\", \"now\"}.\n",
     RunScheduleList},
    {"schedule", "run-now", "ID", "make a schedule due at once",
     "Sets the next run of schedule ID to a second ago, so that the service starts it\n"
     "at its next poll (within a minute).\n",
     RunScheduleRunNow},
    {"schedule", "disable", "ID", "keep a schedule but stop running it",
     "Marks schedule ID disabled: the service (every instance on a shared server)\n"
     "leaves it alone, however due it is. Its release, sites, frequency, time and\n"
     "next run are kept as they are, so 'schedule enable ID' brings it back; a next\n"
     "run that has passed meanwhile is run at the service's next poll, once. 'schedule\n"
     "list' marks it disabled.\n",
     RunScheduleDisable, kInUse},
    {"schedule", "enable", "ID", "run a disabled schedule again", "Undoes 'schedule disable ID'.\n",
     RunScheduleEnable, kInUse},
    {"schedule", "remove", "ID", "remove a schedule",
     "Removes schedule ID. The history rows and finished jobs of its runs are kept.\n",
     RunScheduleRemove, kInUse},
    {"history", "list", "[--limit N] [--since DATE] [--failed] [--json]",
     "list the finished jobs, newest first",
     "Lists the history rows, newest first (the order the jobs were written): id,\n"
     "time, release, status and sites. --limit N shows the newest N only; --since\n"
     "DATE (YYYY-MM-DD) those written on or after that day; --failed those of jobs in\n"
     "which a site failed (status Failed or Partial).\n"
     "--json prints one JSON object: {\"history\": [{\"id\", \"time\" ('YYYY-MM-DD\n"
     "HH:MM:SS' local), \"release\", \"status\", \"sites\" (an array)}]}.\n",
     RunHistoryList},
    {"history", "show", "ID", "print a job's report, its sites' evidence and screenshots",
     "Prints the report of history row ID, then each site's evidence (how it ended,\n"
     "its last page with the HTTP status, or the network error when it did not load,\n"
     "the pages loaded, the success text found or looked for, its screenshot, forms\n"
     "that lacked controls its script named), then\n"
     "the screenshots of the job's failed sites. The service saves a failed site's page as\n"
     "  DIR/shots/YYYYMMDD-HHMMSS-SITE.png\n"
     "(the local time the site failed; in SITE every character other than A-Z, a-z,\n"
     "0-9, '.', '_' and '-' becomes '_'). Listed are the files whose SITE is one of the\n"
     "job's sites and whose time lies after the previous history row and not after\n"
     "this one (jobs run one at a time).\n",
     RunHistoryShow},
    {"", "serve", "[--listen ADDRESS:PORT]", "serve a read-only web view of the service",
     "Serves web pages over the stores of DIR until interrupted (SIGINT, SIGTERM):\n"
     "the overview (each instance's status, the next runs, the last jobs; it reloads\n"
     "itself while a job runs), a job's report and each site's evidence with its\n"
     "failure screenshot, a site's last outcomes, success rate, form-change warnings,\n"
     "last screenshot and script, and a grid of sites by recent jobs. /api/status (503\n"
     "while an instance is not healthy), /api/history, /api/sites, /api/sites/failing,\n"
     "/api/stats, /api/schedules and /api/releases give\n"
     "the --json documents of the list commands (query values as their options:\n"
     "?limit=10&failed=1). Nothing can be changed through it; passwords never appear.\n"
     "--listen defaults to 127.0.0.1:8470. Without a token only this machine may ask:\n"
     "reach it from elsewhere through an SSH tunnel. Only requests whose Host is the\n"
     "listen address, localhost, a loopback address or a name in 'web_names = NAME,...'\n"
     "(DIR/veltrane.conf) are answered; others get 421. To listen on another address,\n"
     "set 'web_token = SECRET' (at least 128 bits: 32 hex digits, or 22 characters\n"
     "otherwise; 'openssl rand -hex 16' makes one), and 'web_certificate = PEM' with\n"
     "'web_key = PEM' to serve HTTPS, or 'web_plain_http = yes' to go without it\n"
     "knowingly. Every request must then send 'Authorization: Bearer SECRET', or come\n"
     "from a browser signed in with a one-time link: one is printed at start, and a GET\n"
     "of /signin with the token gives a new one. A link works once, by GET; each\n"
     "sign-in gets a session of its own. Prints the address it serves, then serves.\n",
     RunServe},
    {"history", "prune", "--older-than DAYS", "remove the history older than DAYS days",
     "Removes the history rows written more than DAYS days ago (by their time), the\n"
     "jobs of the job journal that wrote them with their sites' outcomes (what\n"
     "'history show' and 'site history' print), the journal's finished jobs without\n"
     "a history row that ended that long ago (trials sent with 'site try --submit',\n"
     "jobs dropped at their start), and the screenshots those outcomes name in\n"
     "DIR/shots/ (only those: files elsewhere, such as the pictures of trials, stay).\n"
     "A job that has not ended is never touched. Prints what it removed: the history\n"
     "rows' ids, the number of jobs and outcomes, each screenshot. Rows go in small\n"
     "batches, so a running service is not held up.\n"
     "The service does the same by itself once a day (at its start and every 24\n"
     "hours, between jobs) with a line 'history_keep_days = DAYS' in its\n"
     "veltrane.conf; without it the history is kept whole.\n",
     RunHistoryPrune},
    {"page", "inspect", "URL [--json] [--links PATTERN] [--settle MS]",
     "show a page as the service's engine sees it",
     "Loads URL in the service's browser control, as the service would (its navigation\n"
     "guards; redirects followed; script dialogs answered), and prints what a script\n"
     "needs: every page loaded on the way, dialogs answered, then each form of the\n"
     "last page in document order with its position (the APP-FormPos value), action\n"
     "and method, the control names a step's fields are matched with, and every\n"
     "control: kind, type, name and value, a list's options (value and text), a\n"
     "submit button's caption and the one a step clicks by default. Then the number\n"
     "of links and, with --links PATTERN, the links that APP-SearchLinkPattern=PATTERN\n"
     "matches, in order. --json prints the same as JSON. Nothing is ever filled in or\n"
     "sent. The page counts as loaded once it has been quiet for --settle MS\n"
     "(default 2000), so that a page that moves on by itself is followed. Without\n"
     "DISPLAY an Xvfb of the tool's own is used. An address that does not load (a\n"
     "refused connection, an unknown host, a TLS failure) prints the engine's error\n"
     "and exits with 4.\n",
     RunAuthoring<authoring::RunPageInspect>},
};

}  // namespace

std::span<const Command> AllCommands() { return kCommands; }

}  // namespace veltrane::admin
