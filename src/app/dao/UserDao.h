#pragma once
// UserDao: the users who logged in online on this device (table "user"), kept so that a later
// offline login can check the typed credentials. Rows are never deduplicated: every online login
// adds one, and a check answers from the first matching row.

#include <optional>
#include <string>

#include "dao/BaseDao.h"
#include "model/User.h"
#include "platform/foundation/Value.h"

class UserDao : public BaseDao {
 public:
  std::optional<std::string> setTable(const std::string& sql) const override;

  // Adds a row with the user's six fields (absent fields as NULL).
  void insert(const User& user);
  // The stored user id, as text, of the first row whose credentials of login type `type` match
  // `user`; absent when none matches or the type is not 1 to 6:
  //   1, 6  user name and password     2  identity card
  //   3     identity card and real name   4  accountant number and identity card
  //   5     user name and identity card
  std::optional<std::string> validUser(const User& user, int type);
  bool exists(const platform::Value& userId);
  bool deleteById(const platform::Value& userId);
  model::List<User> queryAll();
};
