// The in-memory picture of one strategy that the goal notification works on:
// its title and description, its goals with their persons, due dates,
// resources and plans, the plan and resource catalogs, and its vision.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bizobjects/bizobjects.h"
#include "mail/mail_recipient.h"
#include "util/dates.h"

// One entry of a choice list: a plan or a resource. Catalog entries are not
// linked; entries of a goal's own lists are. The loaders give every entry
// position 0.
struct ChoiceItem {
  std::string id;
  std::string name;
  int32_t position = 0;
  bool linked = false;
  int32_t typeCode = 0;  // a resource's type; 0 for a plan
  std::string text;      // a resource's comment or a plan's description

  bool operator==(const ChoiceItem&) const = default;
};

using ChoiceItemList = std::vector<ChoiceItem>;

// One row of the resource type table: which resources are listed under which
// heading in the goal e-mail.
struct ResourceType {
  int32_t code = 0;
  std::string name;
};

class CStrategyModel;

// A goal's plans or its resources: its own items, bound to the model and to
// the catalog of the same kind. Only the values live here; nothing fills
// dialog controls in this program.
class CStrategyDlgSupport {
 public:
  // Binds the list to `model` and `catalog`, which must outlive it.
  void Bind(const CStrategyModel& model, const ChoiceItemList& catalog) {
    m_model = &model;
    m_catalog = &catalog;
  }
  // The model and the catalog bound to; null before Bind.
  const CStrategyModel* Model() const { return m_model; }
  const ChoiceItemList* Catalog() const { return m_catalog; }
  // The goal's own items, in load order.
  ChoiceItemList& Items() { return m_items; }
  const ChoiceItemList& Items() const { return m_items; }

 private:
  const CStrategyModel* m_model = nullptr;    // not owned
  const ChoiceItemList* m_catalog = nullptr;  // not owned
  ChoiceItemList m_items;
};

// One goal as the model shows it (not the database element CSMARTGoal).
class CSmartGoal {
 public:
  // A new goal with the given title: a fresh identifier, due today.
  explicit CSmartGoal(std::string goalTitle);
  virtual ~CSmartGoal() = default;
  CSmartGoal(const CSmartGoal&) = delete;
  CSmartGoal& operator=(const CSmartGoal&) = delete;

  std::string goalId;
  std::string title;
  std::string loadedTitle;  // the title as loaded
  std::string description;
  std::string successCriteria;
  std::string personName;  // display name of the responsible person, or "Not Found"
  std::string personId;
  std::optional<MailRecipient> person;  // the responsible person, when found at load
  DateValue dueDate;
  CStrategyDlgSupport plans;
  CStrategyDlgSupport resources;
};

// The goals of a model, in insertion order; owns them.
class CSmartGoalCollection {
 public:
  using const_iterator = std::vector<std::unique_ptr<CSmartGoal>>::const_iterator;

  CSmartGoalCollection() = default;
  virtual ~CSmartGoalCollection() = default;
  CSmartGoalCollection(const CSmartGoalCollection&) = delete;
  CSmartGoalCollection& operator=(const CSmartGoalCollection&) = delete;

  // Takes ownership of `goal` and appends it; std::invalid_argument for none.
  CSmartGoal& Append(std::unique_ptr<CSmartGoal> goal);

  const_iterator begin() const { return m_goals.begin(); }
  const_iterator end() const { return m_goals.end(); }
  std::size_t size() const { return m_goals.size(); }
  bool empty() const { return m_goals.empty(); }
  // The goal at `index` (from 0); std::out_of_range beyond the last one.
  CSmartGoal& at(std::size_t index) const { return *m_goals.at(index); }

 private:
  std::vector<std::unique_ptr<CSmartGoal>> m_goals;
};

// Owns everything in it: its goals and, by value, the catalogs and every
// goal's choice lists. Those lists point back at the model and its catalogs,
// so a model is neither copied nor moved; it lives on the stack of the one
// workflow that uses it.
class CStrategyModel {
 public:
  CStrategyModel() = default;
  CStrategyModel(const CStrategyModel&) = delete;
  CStrategyModel& operator=(const CStrategyModel&) = delete;

  std::string strategyId;  // exactly as given to the load (the command line's text)
  bool hasVision = false;
  std::string title;
  std::string description;
  std::string visionId;
  std::string visionText;
  ChoiceItemList resourceCatalog;  // every resource in the database
  ChoiceItemList planCatalog;      // every plan in the database
  std::vector<ResourceType> resourceTypes;
  CSmartGoalCollection goals;  // in load order
};

// A vision and the text built from it: its opening paragraph followed by its
// functional-area paragraphs, run together.
struct VisionRecord {
  std::string VisionID;
  std::string Title;
  std::string VisionFromGod;
  std::string PeopleDesc;
  std::string EnvironmentDesc;
  std::string UrgencyDesc;
  std::string OpeningParagraph;
  std::string Text;
};

// The loaders read the database on a connection of their own and write
// nothing to it nor to the run log. A failing statement throws (the gateway
// has logged it); what was loaded before it stays in the model.

// Empties and refills the plan and the resource catalog (every row, not
// linked, in table order). Returns the resource load's result.
bool LoadChoiceCatalogs(CStrategyModel& model);

// Loads the strategy named by `strategyId` (braces and letter case ignored),
// the catalogs once more, the strategy's goals with their responsible persons,
// resources and plans, and the strategy's vision (the first vision link of the
// strategy). False, with nothing but `strategyId` set, when the strategy is not
// found; otherwise the result of the vision link load.
bool LoadStrategyModel(std::string strategyId, CStrategyModel& model);

// Appends the persons a person search finds (by identifier, or else by the
// beginnings of first and last name; nothing given: everybody). Always true.
bool LookUpPersons(std::vector<MailRecipient>& records, std::string firstName, std::string lastName,
                   std::string personId);

// The responsible person of a goal: the person whose identifier is
// `personId`. A goal without a person identifier has none; it is never
// handed to the search, which would then answer with everybody.
std::vector<MailRecipient> LookUpResponsiblePerson(const std::string& personId);

// Fills the rest of `vision` from the vision whose VisionID is the same GUID
// as vision.VisionID, and builds its Text. Returns the vision load's result
// (true also when no vision matches; Text is then only the functional-area
// paragraphs found for the identifier, if any).
bool LoadVisionText(VisionRecord& vision);
