#include "jobs/job_data.h"

#include "jobs/report.h"
#include "platform/text_lists.h"
#include "storage/cppsqlite3.h"
#include "storage/database_files.h"

namespace veltrane {
namespace {

// The whole text of a column by name, NUL bytes included; NULL reads as "".
// A missing column throws.
std::string Text(CppSQLite3Query& query, const char* column) { return query.BytesOf(column); }

std::string ReplaceLineFeeds(const std::string& text) {
  std::string html;
  html.reserve(text.size());
  for (const char c : text) {
    if (c == '\n')
      html += "<BR>";
    else
      html += c;
  }
  return html;
}

}  // namespace

DatabasePaths ProgramDatabasePaths() { return {MainDatabasePath(), SubscriptionDatabasePath()}; }

std::string DatabaseErrorText(const std::string& statement, int code, const std::string& message) {
  return statement + "\r\n" + std::to_string(code) + " : " + message;
}

void JobDataLoader::ReportError(const std::string& statement, int code, const char* message,
                                bool show) {
  const std::string text = DatabaseErrorText(statement, code, message ? message : "");
  if (show) messageBox_.ShowMessage(text);
  trace_.TraceLine(text);
}

bool JobDataLoader::LoadSchedule(JobState& state, ScheduleId scheduleId) {
  const std::string statement =
      "SELECT name,subscription FROM schedule WHERE id = " + std::to_string(scheduleId);
  try {
    CppSQLite3DB db;
    db.Open(paths_.main.c_str());
    CppSQLite3Query query = db.RunQuery(statement.c_str());
    if (query.AtEnd()) return false;
    state.PressReleaseName = Text(query, "name");
    state.PendingSites.clear();
    state.PendingSites = SplitLines(Text(query, "subscription"));
    return true;
  } catch (const CppSQLite3Exception& error) {
    ReportError(statement, error.Code(), error.Message(), false);
    return false;
  }
}

bool JobDataLoader::LoadPressRelease(JobState& state, const std::string& name) {
  const std::string statement = "SELECT * FROM pressrelease WHERE name = '" + QuoteSql(name) + "'";
  try {
    CppSQLite3DB db;
    db.Open(paths_.main.c_str());
    CppSQLite3Query query = db.RunQuery(statement.c_str());
    if (query.AtEnd()) return false;

    // Fields are assigned in the order the columns are listed, so an error part-way keeps
    // exactly the fields read before it.
    const std::vector<std::string> contact = SplitLines(Text(query, "contact_data"));
    state.CompanyName = LookupValue(contact, "company_name");
    state.ContactPerson = LookupValue(contact, "contact_person");
    state.Email = LookupValue(contact, "email");
    state.Website = LookupValue(contact, "website");
    state.Country = LookupValue(contact, "country");
    state.PhoneNumber = LookupValue(contact, "phonenumber");
    state.Fax = LookupValue(contact, "fax");
    state.StreetAddress = LookupValue(contact, "street_address");
    state.City = LookupValue(contact, "city");
    state.State = LookupValue(contact, "state");
    state.ZipCode = LookupValue(contact, "zipcode");

    state.Headline = Text(query, "headline");
    state.Summary = Text(query, "summary");
    const std::vector<std::string> keywords = SplitLines(Text(query, "keyword"));
    state.Category = Text(query, "category");
    const int today = WholeDate(clock_.Now());
    state.ReleaseDate = query.IntOf("release_date", today);

    state.NewsBody = Text(query, "news_body");
    state.AboutCompany = Text(query, "about_company");
    state.ContactDetail = Text(query, "contact_detail");
    state.FullText = state.Headline + "\r\n\r\n" + state.Summary + "\r\n\r\n" + state.NewsBody +
                     "\r\n\r\n" + state.AboutCompany + "\r\n\r\n" + state.ContactDetail +
                     "\r\n\r\n" + "###";
    state.SiteCategories = SplitLines(Text(query, "extra_data"));
    state.NewsBodyHtml = ReplaceLineFeeds(state.NewsBody);

    state.KeywordsComma.clear();
    state.KeywordsSpace.clear();
    for (std::size_t i = 0; i < keywords.size(); ++i) {
      if (i > 0) {
        state.KeywordsComma += ",";
        state.KeywordsSpace += " ";
      }
      state.KeywordsComma += keywords[i];
      state.KeywordsSpace += keywords[i];
    }
    return true;
  } catch (const CppSQLite3Exception& error) {
    ReportError(statement, error.Code(), error.Message(), true);
    return false;
  }
}

SiteLoad JobDataLoader::LoadSite(JobState& state, const std::string& siteName) {
  // Never run a site with the previous site's address, script or login.
  state.SiteUrl.clear();
  state.SiteScript.clear();
  state.UserName.clear();
  state.Password.clear();

  SiteLoad result;
  const std::string quotedName = QuoteSql(siteName);
  const std::string subscriptionStatement =
      "SELECT * FROM subscription WHERE name = '" + quotedName + "'";
  try {
    CppSQLite3DB db;
    db.Open(paths_.subscription.c_str());
    CppSQLite3Query query = db.RunQuery(subscriptionStatement.c_str());
    if (query.AtEnd()) {
      trace_.TraceLine("Cant find info for subscription '" + siteName + "'");
      result.rows = SiteRows::SubscriptionMissing;
      return result;
    }
    state.SiteUrl = Text(query, "url");
    state.SiteScript = Text(query, "submission_data");
    // Only for the job's trace line; a table without the column reads as "".
    try {
      result.extraData = Text(query, "extra_data");
    } catch (const CppSQLite3Exception&) {
    }
  } catch (const CppSQLite3Exception& error) {
    ReportError(subscriptionStatement, error.Code(), error.Message(), false);
    result.rows = SiteRows::SubscriptionError;
    return result;
  }

  const std::string accountStatement = "SELECT * FROM account WHERE name = '" + quotedName + "'";
  try {
    CppSQLite3DB db;
    db.Open(paths_.main.c_str());
    CppSQLite3Query query = db.RunQuery(accountStatement.c_str());
    if (query.AtEnd()) {
      trace_.TraceLine("Cant find info for subscription '" + siteName + "'");
      result.rows = SiteRows::AccountMissing;
      return result;
    }
    state.UserName = Text(query, "username");
    state.Password = Text(query, "password");
  } catch (const CppSQLite3Exception& error) {
    ReportError(accountStatement, error.Code(), error.Message(), true);
    result.rows = SiteRows::AccountError;
    return result;
  }
  result.rows = SiteRows::Loaded;
  return result;
}

}  // namespace veltrane
