#include "strategy/strategy_model.h"

#include <iostream>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "bizobjects/table_store.h"
#include "data/db_connection.h"
#include "strategy/strategy_queries.h"
#include "surveys/survey_queries.h"
#include "util/identifiers.h"
#include "util/text_files.h"

namespace {

constexpr const char kPersonNotFound[] = "Not Found";

ChoiceItem ItemOf(const CStrategicPlan& plan, bool linked) {
  return ChoiceItem{plan.GetPlanID(), plan.GetPlanName(), 0, linked, 0, plan.GetPlanDesc()};
}

ChoiceItem ItemOf(const CResource& resource, bool linked) {
  return ChoiceItem{
      resource.GetResourceID(), resource.GetResourceName(), 0, linked, LeadingInteger(resource.GetResourceType()),
      resource.GetComment()};
}

// Empties `catalog` and refills it from every row of the table, tracing the
// load to standard output (a heading line per load). The catalogs are the
// only loads of the model traced there; every other load traces into a buffer
// that is thrown away.
template <class Collection>
bool LoadCatalog(CDBConnection& connection, ChoiceItemList& catalog) {
  catalog.clear();
  Collection collection;
  const bool loaded = LoadTable(&connection, collection, std::cout);
  for (const auto* element : collection) catalog.push_back(ItemOf(*element, false));
  return loaded;
}

bool LoadCatalogs(CDBConnection& connection, CStrategyModel& model) {
  LoadCatalog<CStrategicPlans>(connection, model.planCatalog);
  return LoadCatalog<CResources>(connection, model.resourceCatalog);
}

// Fills the goal from its row and looks up its responsible person.
void TakeGoalRow(const CSMARTGoal& row, CSmartGoal& goal) {
  goal.goalId = row.GetGoalID();
  goal.description = row.GetGoalDesc();
  goal.successCriteria = row.GetSuccessDesc();
  ParseDateOnly(row.GetDueDate(), goal.dueDate);
  goal.personId = row.GetPersonId();
  goal.title = row.GetGoalTitle();
  goal.loadedTitle = goal.title;

  const std::vector<MailRecipient> persons = LookUpResponsiblePerson(goal.personId);
  if (persons.empty()) {
    goal.personName = kPersonNotFound;
  } else {
    goal.person = persons.front();
    goal.personName = DisplayName(goal.person->FirstName, goal.person->MiddleName, goal.person->LastName);
  }
}

void LoadGoalChoices(CDBConnection& connection, CSmartGoal& goal) {
  CResources resources;
  CSMARTGoalResourceXrefs resourceLinks;
  CStrategicPlans plans;
  CSMARTGoalPlanXrefs planLinks;
  LVSAL_GetGoalResources(connection, resources, resourceLinks, goal.goalId);
  for (const CResource* resource : resources) goal.resources.Items().push_back(ItemOf(*resource, true));
  LVSAL_GetGoalPlans(connection, plans, planLinks, goal.goalId);
  for (const CStrategicPlan* plan : plans) goal.plans.Items().push_back(ItemOf(*plan, true));
}

// Takes the strategy's first vision link and builds that vision's text.
bool LoadStrategyVision(CDBConnection& connection, CStrategyModel& model) {
  model.hasVision = false;
  model.visionId.clear();
  std::ostringstream discardedTrace;
  CStrategyVisionXrefs links;
  const bool loaded = LoadTable(&connection, links, discardedTrace);
  for (const CStrategyVisionXref* link : links) {
    if (!SameGuid(link->GetStrategyID(), model.strategyId)) continue;
    model.visionId = link->GetVisionID();
    model.hasVision = true;
    VisionRecord vision;
    vision.VisionID = model.visionId;
    if (LoadVisionText(vision)) {
      model.visionText = vision.Text;
    } else {
      model.hasVision = false;
    }
    break;
  }
  return loaded;
}

}  // namespace

CSmartGoal::CSmartGoal(std::string goalTitle)
    : goalId(NewGuidString()), title(std::move(goalTitle)), dueDate(CurrentDate()) {}

CSmartGoal& CSmartGoalCollection::Append(std::unique_ptr<CSmartGoal> goal) {
  if (!goal) throw std::invalid_argument("CSmartGoalCollection::Append: no goal given");
  m_goals.push_back(std::move(goal));
  return *m_goals.back();
}

bool LoadChoiceCatalogs(CStrategyModel& model) {
  CDBConnection connection;
  if (!connection.Open()) return false;
  return LoadCatalogs(connection, model);
}

bool LoadStrategyModel(std::string strategyId, CStrategyModel& model) {
  CDBConnection connection;
  if (!connection.Open()) return false;
  model.strategyId = strategyId;

  {
    CStrategy strategy;
    if (!LVSAL_GetStrategy(connection, strategyId, strategy)) return false;
    LoadCatalogs(connection, model);
    model.title = strategy.GetStrategyTitle();
    model.description = strategy.GetStrategyDesc();
  }

  {
    CSMARTGoals rows;
    LVSAL_GetStrategyGoals(connection, rows, strategyId);
    for (const CSMARTGoal* row : rows) {
      CSmartGoal& goal = model.goals.Append(std::make_unique<CSmartGoal>(row->GetGoalTitle()));
      TakeGoalRow(*row, goal);
      goal.plans.Bind(model, model.planCatalog);
      goal.resources.Bind(model, model.resourceCatalog);
    }
  }

  for (const auto& goal : model.goals) LoadGoalChoices(connection, *goal);

  return LoadStrategyVision(connection, model);
}

bool LookUpPersons(std::vector<MailRecipient>& records, std::string firstName, std::string lastName,
                   std::string personId) {
  CDBConnection connection;
  if (!connection.Open()) return true;
  CPersons persons;
  LVSAL_FindPersons(connection, persons, std::move(firstName), std::move(lastName), std::move(personId));
  for (const CPerson* person : persons) {
    records.push_back({person->GetPersonID(), person->GetFirstName(), person->GetMiddleName(), person->GetLastName(),
                       person->GetEmail()});
  }
  return true;
}

std::vector<MailRecipient> LookUpResponsiblePerson(const std::string& personId) {
  std::vector<MailRecipient> persons;
  if (!personId.empty()) LookUpPersons(persons, "", "", personId);
  return persons;
}

bool LoadVisionText(VisionRecord& vision) {
  CDBConnection connection;
  if (!connection.Open()) return false;
  std::ostringstream discardedTrace;
  CVisions visions;
  const bool loaded = LoadTable(&connection, visions, discardedTrace);
  vision.Text.clear();
  for (const CVision* candidate : visions) {
    if (!SameGuid(candidate->GetVisionID(), vision.VisionID)) continue;
    vision.Title = candidate->GetTitle();
    vision.VisionFromGod = candidate->GetVisionFromGod();
    vision.PeopleDesc = candidate->GetPeopleDesc();
    vision.EnvironmentDesc = candidate->GetEnvironmentDesc();
    vision.UrgencyDesc = candidate->GetUrgencyDesc();
    vision.OpeningParagraph = candidate->GetOpeningParagraph();
    vision.Text = vision.OpeningParagraph;
    break;
  }
  std::vector<VisionFunctionalAreaRow> areas;
  LVSAL_GetVisionFunctionalAreas(connection, vision.VisionID, areas);
  for (const VisionFunctionalAreaRow& area : areas) vision.Text += area.Paragraph;
  return loaded;
}
