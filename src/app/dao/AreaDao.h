#pragma once
// AreaDao: the region tree kept for starting without a network (table "area"). Each node is a
// row with its parent's code ("0" for a top-level region); codes stay texts.

#include <string>

#include "dao/BaseDao.h"
#include "model/Area.h"

class AreaDao : public BaseDao {
 public:
  std::optional<std::string> setTable(const std::string& sql) const override;

  // Replaces the stored tree with `areas` and their children at any depth, in one transaction,
  // setting the parent code of each node and marking childless nodes as leaves on the objects.
  // An empty list (what a failed or empty region answer decodes to) leaves the stored tree as it
  // is, so the offline region list is not wiped by a bad answer.
  void updateAreas(const model::List<Area>& areas);
  // Stores `area` under `parent`, then its children under its code.
  void insertParent(const std::shared_ptr<Area>& area, const model::Text& parent);
  bool insert(const Area& area);
  bool delteAll();
  // The stored top-level regions with their direct children (two levels at most). A region
  // without child rows comes back as a leaf without a child list.
  model::List<Area> queryAll();
};
