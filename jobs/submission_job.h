// SubmissionJob: the running job of the browser window. It starts a job for a
// schedule id, walks the job's sites one after the other through the browser
// control, hands every completed page to the step engine, bounds every wait
// for a page with a deadline, and writes the report when the last site ends.
// Every site ends exactly once: once ended, no page, timer tick or late
// screenshot touches it. Each ended site is committed to the job journal at
// once, so a job cut short is finished after a restart (ResumeSubmission).
// Before a form carrying the release is sent, the site is marked submitting
// in the journal; a resumed job does not send such a site again but ends it
// failed with "Outcome unknown (interrupted while submitting)".
// A site whose rows the store cannot give (a server away) waits for the store,
// tried again with back-off within the page deadline, and then fails with the
// store's error; meanwhile no page or timer touches it.
// Beside its outcome every site keeps its evidence (last HTTP status, success
// text, pages loaded, screenshot, a form that lacked controls the step named).
// TrySite runs one site of one release the same way, as a trial: nothing is
// journaled and no report or history row is written.
// With more lanes than one (SubmissionJobParts::moreLanes), the job runs up to
// one site per lane at once, each lane with its own browser, page timer and
// failure capture: a free lane takes the first site of the list not yet
// handed out whose host fewer than `perHost` lanes run; the report lists the
// sites in the list's order. Lane 1 alone runs a trial. The events of lane n
// come with its index (0 for the first lane).
// On a shared server every site is claimed before it runs (see
// HistoryStore::ClaimSite), so that idle instances may help a running job:
// HelpSubmission takes up the sites of another instance's job that nobody
// has claimed. A site claimed elsewhere is left to that instance; once its
// own sites have ended, the job's holder waits for the others' and then
// reports, unless an instance that helped ended the last site and reported
// it. An instance that helps reports the job only when it ended the last
// site; it sends a release only after recording the site in doubt under its
// claim.
// It owns the JobState; it holds references to everything else. The window
// guards its browser events and its page timer and hands them on here.
// User-interface thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/browser_control.h"
#include "browser/loading_indicator.h"
#include "browser/page_capture.h"
#include "engine/login_hosts.h"
#include "engine/pseudo_random.h"
#include "engine/site_script.h"
#include "jobs/job_data.h"
#include "jobs/job_journal.h"
#include "jobs/redacting_trace.h"
#include "jobs/site_lane.h"
#include "model/job_state.h"
#include "platform/day_clock.h"
#include "platform/schedule_rule.h"
#include "platform/trace.h"
#include "platform/ui_timer.h"

namespace veltrane {

struct SubmissionJobParts {
  DatabasePaths paths;
  BrowserControl& browser;
  LoadingIndicator& panel2;
  TraceSink& trace;
  const Clock& clock;
  PseudoRandom& random;
  bool& busy;                                 // the main window's Busy flag
  double pageDeadline;                        // days from arming to the deadline
  std::function<void(bool)> setTimerEnabled;  // TimerTimeout on or off
  // When set, a failed site's page is captured before the next site starts.
  PageCapture* failedPageCapture;
  // The lanes after the first, which runs on the parts above.
  std::vector<LaneParts> moreLanes = {};
  // How many lanes may run sites of one host at once.
  int perHost = 2;
};

// One site of one press release, run as a trial (see TrySite).
struct SiteTrial {
  std::string pressRelease;
  std::string site;
  // Holds back a form a step filled with the release (one that takes only
  // the site's login always goes through): its values are written on the live
  // page but nothing is clicked or submitted, and the site ends there.
  bool holdSubmission = false;
  // Told of the form held back: form `form` of the page, which would have
  // been sent by a click on element `button` (-1: submitted without a button).
  std::function<void(const Page& page, int form, int button)> held;
  // Runs once, when the site has ended, with its record and evidence.
  std::function<void(const SiteRecord& record)> ended;
};

class SubmissionJob {
 public:
  // The deadline lies 1/480 day (180 seconds) after arming.
  static constexpr double kPageDeadline = 1.0 / 480.0;
  // A step that fails on what its page lacks watches the page at least this
  // long (WatchPage) for it to send itself on, or to change in place, before
  // the site fails.
  static constexpr std::chrono::milliseconds kSettleTime{500};
  // A submission after which no page comes is watched at least this long
  // before it counts as one that did nothing: longer than the page is given
  // to enable a disabled submit button (SubmitDisabled comes first).
  static constexpr std::chrono::milliseconds kSubmitSettleTime{2500};
  // No watch lasts longer, however busy its page.
  static constexpr std::chrono::milliseconds kWatchBound{5000};
  // A site's rows that the store could not give are read again after this
  // long, then after twice as long each time, up to kLastStoreRetry.
  static constexpr std::chrono::milliseconds kFirstStoreRetry{250};
  static constexpr std::chrono::milliseconds kLastStoreRetry{4000};
  // Site ends the store could not take by the job's end are tried again from
  // kFirstStoreRetry on, at most this far apart, until they are written.
  static constexpr std::chrono::milliseconds kLastKeptSitesRetry{30000};

  explicit SubmissionJob(SubmissionJobParts parts);

  bool StartSubmission(ScheduleId scheduleId);
  // Takes up the next job that an earlier run of the service left
  // unfinished (its ended sites are not run again) or never started. False
  // when none is left; only jobs found unfinished at construction count.
  bool ResumeSubmission();
  // Takes up an unfinished job that this instance took over from another on
  // a shared server, as ResumeSubmission would have at start-up.
  bool TakeOverSubmission(std::int64_t jobId);
  // On a shared server, runs the sites nobody has claimed of a job another
  // live instance holds; false when there is none (or not on a server).
  bool HelpSubmission();
  // Runs one site of a press release as a job runs it (same loading, engine,
  // guards, deadline and failure capture) without a schedule, the journal, a
  // report or a history row. False when the press release cannot be loaded;
  // nothing has started then.
  bool TrySite(SiteTrial trial);
  void TimerTimeoutTimer(std::size_t lane = 0);

  // The browser's events, as the window hands them on, from lane `lane`.
  void DocumentComplete(Page& page, std::size_t lane = 0);
  void BeforeNavigate2(const std::string& url, bool& cancel, std::size_t lane = 0);
  void NewWindow2(const std::string& url, bool& cancel, std::size_t lane = 0);
  void PrintRefused(const std::string& url, std::size_t lane = 0);
  // Traced; a site whose own address is a file to save fails at once, since
  // the page the browser still shows is not the site's.
  void DownloadRefused(const std::string& url, bool requested, std::size_t lane = 0);
  void PageDropped(const std::string& url, std::size_t lane = 0);
  // A page watched after a submission or before a failure, as it settled: a
  // submission that stays on its page is judged there ("Page updated in
  // place"), one that changed nothing fails; a page that changed is judged
  // again by the step that failed on it.
  void PageSettled(Page& page, const PageChange& change, std::size_t lane = 0);
  // The control the step sends its form with stayed disabled: the site fails
  // at once with "Submit button disabled" rather than wait for a page.
  void SubmitDisabled(const std::string& url, std::size_t lane = 0);
  void NavigateError(const std::string& url, std::int32_t statusCode, const std::string& message,
                     bool& cancel, std::size_t lane = 0);
  void ProgressChange(int progress, int progressMax, std::size_t lane = 0);
  void NavigateComplete2(const std::string& url, std::size_t lane = 0);
  // A request of the lane's guarded page to `host` was refused: traced once per site.
  void RequestRefused(const std::string& host, std::size_t lane = 0);
  // The lane's guard does not hold: the site fails.
  void RequestGuardUnconfirmed(std::size_t lane = 0);
  // Whether the next completed page of the lane is read with its text: only
  // when a step that runs on it checks a success or unique string (PageTextNeeded).
  bool NeedsPageText(std::size_t lane = 0) const;

  JobState& State() { return state_; }
  const JobState& State() const { return state_; }
  std::int64_t JobId() const { return jobId_; }
  ScheduleId Schedule() const { return scheduleId_; }  // 0 for a trial
  // A site runs on the lane and has not ended.
  bool SiteOpen(std::size_t lane = 0) const { return lanes_[lane]->siteOpen; }
  std::size_t Lanes() const { return lanes_.size(); }
  // How many lanes hold a site now (one that runs, waits for the store or is pictured).
  int SitesInHand() const;
  // The sites the lanes run now, lane by lane, joined by ", "; "" when none runs.
  std::string OpenSites() const;
  // Runs sites of a job another instance holds (HelpSubmission).
  bool Helping() const { return helping_; }

 private:
  bool StartJob(ScheduleId scheduleId, std::int64_t queuedJob);
  bool ResumeJob(const JournalJob& job);
  // The site the job was sending its release on when it was cut short, unless
  // it ended since, ends failed without being run again; marked in `ended`.
  void EndInterruptedSubmission(const JournalJob& job, std::vector<bool>& ended);
  // Busy, and the lists of the job before: emptied (other fields keep their values).
  void ClearJobLists();
  void BeginSites();
  // Adds every site of `sites` whose place `skip` does not mark to the sites
  // to hand out, with its place in the list.
  void AddPendingSites(const std::vector<std::string>& sites, const std::vector<bool>& skip);
  // Hands the sites not yet run to the free lanes, and ends the job (or the
  // trial) once every site has ended. Called again from within, it runs once more.
  void Dispatch();
  void DispatchOnce();
  // The index in PendingSites of the next site a free lane may take: none
  // while every pending site's host has its lanes busy.
  std::optional<std::size_t> NextStartable();
  std::string HostOfSite(int position, const std::string& site);
  void StartSite(SiteLane& lane, std::size_t index);
  // The lane lets its site go and the job hands out what is left.
  // Leaves the page of the lane's site for a blank one; `left` runs once it
  // is gone. False when there is none to leave (or a trial keeps it).
  bool LeaveSitePage(SiteLane& lane, std::function<void()> left);
  void NextSite(SiteLane& lane);
  void SiteSucceeded(SiteLane& lane);
  void SiteFailed(SiteLane& lane, const std::string& reason);
  void ArmDeadline(SiteLane& lane);
  void DisarmDeadline(SiteLane& lane);
  // Reads the lane's site's rows and runs it, unless it waits for the store.
  void LoadAndStartSite(SiteLane& lane);
  // Waits for the store before reading the site's rows again; false when the
  // site's page deadline has passed.
  bool WaitForStore(SiteLane& lane);
  void RetrySiteLoad(SiteLane& lane);
  // Writes the site ends the journal keeps, or tries again later.
  void WriteKeptSitesOrRetry();
  // Ends the lane's site once: stops its deadline and redirect wait, records
  // it; false when it had ended already.
  bool EndSite(SiteLane& lane, bool completed, const std::string& reason);
  // Runs the step engine on a page and carries out its decision. `settled`:
  // the page is one a failure's watch read again, so a failure is final.
  void JudgePage(SiteLane& lane, Page& page, bool settled);
  // A step failed on what the page lacks: the page is watched, and the page it
  // navigates to, or the same page changed in place, is judged by the same step.
  void HoldFailureWhilePageMayMoveOn(SiteLane& lane, const std::string& reason);
  // On a shared server, before each site and each page's step: false once
  // this instance no longer holds the job, which it then stops at once, on
  // every lane, without writing anything more for it. Always true on the files.
  bool StillHeld();
  // Stops the lane's site where it is, writing nothing for it.
  void StopLane(SiteLane& lane);
  // On a shared server, once no site is left to hand out and no lane holds
  // one: true when the job is to be reported now, with the ends other
  // instances recorded added to its sites. Otherwise it hands out again the
  // sites whose claims ran out, waits for the sites run elsewhere, or, when
  // the job was reported elsewhere or this instance only helps, ends its part.
  bool SharedSitesSettled();
  // Ends this instance's part in the job without a report.
  void EndPartInJob(const std::string& why);
  // Claims the lane's site before it runs; false when it does not run now
  // (run elsewhere: the lane lets it go; the store is away: it waits or fails).
  bool ClaimLaneSite(SiteLane& lane);
  // Journals, before the form goes, that the lane's site sends its release
  // from `address`, so that a job cut short does not send it again.
  // False when the release must not go: the site, run for a job another
  // instance holds, could not be recorded in doubt under its claim.
  bool MarkSubmitting(SiteLane& lane, const std::string& address);
  void AddLane(LaneParts parts, std::size_t count);

  SubmissionJobParts parts_;
  RedactingTrace trace_;  // parts_.trace, without the current site's password
  JobDataLoader loader_;
  JobJournal journal_;
  JobState state_;
  std::vector<std::unique_ptr<SiteLane>> lanes_;
  bool dispatching_ = false;
  bool dispatchAgain_ = false;
  std::map<int, std::string> hosts_;  // the host of each site position looked up
  // Reads a site's address to find its host, with more lanes than one; its
  // traces are the lane's to write when it runs the site.
  DiscardingTrace quiet_;
  std::unique_ptr<JobDataLoader> hostLoader_;
  JobState hostLookup_;
  ScheduleId scheduleId_ = 0;
  std::int64_t jobId_ = 0;              // the journal's id of the job; 0 when not journaled
  std::vector<int> pendingPositions_;   // PendingSites' places in the job's site list
  std::deque<std::int64_t> resumable_;  // unfinished jobs found at construction, or taken over
  std::optional<SiteTrial> trial_;      // set while a trial runs
  bool helping_ = false;                // runs sites of a job another instance holds
  bool mergedElsewhere_ = false;        // the report gained ends recorded by other instances
  bool sitesElsewhere_ = false;         // another instance ran or runs sites of the job
  std::chrono::steady_clock::time_point lastHelpCheck_{};
  std::chrono::milliseconds keptSitesDelay_ = kFirstStoreRetry;
  // While other instances run the last sites of the job this instance holds.
  UiTimer othersWait_{1000, false, [this] {
                        othersWait_.SetEnabled(false);
                        Dispatch();
                      }};
  UiTimer keptSitesRetry_{0, false, [this] { WriteKeptSitesOrRetry(); }};
};

}  // namespace veltrane
