#pragma once
// DBService: the facade the screens and the request code use to store server answers (the
// region tree, a user's courses) and to read back the stored trees. It holds four data-access
// objects, made in the order AreaDao, CourseWareDao, ReClassDao, ModelDao, so each DBService has
// four connections of its own.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "dao/AreaDao.h"
#include "dao/CourseWareDao.h"
#include "dao/ModelDao.h"
#include "dao/ReClassDao.h"
#include "platform/foundation/Value.h"

class DBService {
 public:
  DBService();

  // Rewrites the stored region tree from a decoded region answer, following "children" of
  // regions that are not leaves, in one transaction. An answer that did not decode (absent),
  // carries no regions or nests them more than 32 levels deep leaves the stored tree as it is:
  // it is what an offline start shows.
  void refreshArea(const std::optional<nlohmann::json>& answer);
  // Stores each decoded region object of `list` under `parentCode`, then its children; nothing
  // when they nest more than 32 levels deep.
  void addArea(const nlohmann::json* list, const model::Text& parentCode);
  model::List<Area> getAreaFromLocalDB();

  // Replaces the user's stored years, classes of the region and lectures with `data`. Classes
  // of other regions stay, without lecture rows.
  void refreshCourse(const platform::Value& areaCode, const model::List<Course>& data,
                     const platform::Value& userId);
  model::List<Course> getCourseFromLocalDB(const platform::Value& userId,
                                           const platform::Value& areaCode);
  // The downloaded-lecture tree of the user in the global model's region.
  model::List<Course> getLoaclDownloadInfo(const platform::Value& userId, bool isOnline);

  // Kept for the screens, which reach the stores through the facade; nothing calls them yet.
  const std::shared_ptr<AreaDao>& areaDao() const { return _areaDao; }
  const std::shared_ptr<CourseWareDao>& cwDao() const { return _cwDao; }
  const std::shared_ptr<ReClassDao>& classDao() const { return _classDao; }
  const std::shared_ptr<ModelDao>& modelDaol() const { return _modelDaol; }

 private:
  // addArea's walk, once the depth of `list` is known to be bounded.
  void insertAreas(const nlohmann::json& list, const model::Text& parentCode);

  std::shared_ptr<AreaDao> _areaDao;
  std::shared_ptr<CourseWareDao> _cwDao;
  std::shared_ptr<ReClassDao> _classDao;
  std::shared_ptr<ModelDao> _modelDaol;
};
