#include "dao/UserDao.h"

std::optional<std::string> UserDao::setTable(const std::string& sql) const {
  return withTable(sql, "user");
}

void UserDao::insert(const User& user) {
  runUpdate(tableSql("insert into %@ (userid,idcard,realName,username,password,accountantNo) "
                     "values(?,?,?,?,?,?)"),
            user.Id(), user.idCard(), user.realName(), user.name(), user.password(),
            user.accountantNo());
}

namespace {

std::optional<std::string> firstUserId(std::unique_ptr<SQLResultSet> rs) {
  if (!rs) return std::nullopt;
  std::optional<std::string> userId;
  if (rs->next()) userId = rs->stringForColumn("userid");
  rs->close();
  return userId;
}

}  // namespace

std::optional<std::string> UserDao::validUser(const User& user, int type) {
  switch (type) {
    case 1:
    case 6:
      return firstUserId(runQuery(tableSql("select userid from %@ where username=? and password=?"),
                                  user.name(), user.password()));
    case 2:
      return firstUserId(runQuery(tableSql("select userid from %@ where idcard=?"), user.idCard()));
    case 3:
      return firstUserId(runQuery(tableSql("select userid from %@ where  idcard=? and realName=?"),
                                  user.idCard(), user.realName()));
    case 4:
      return firstUserId(
          runQuery(tableSql("select userid from %@ where accountantNo=? and idCard=?"),
                   user.accountantNo(), user.idCard()));
    case 5:
      return firstUserId(runQuery(tableSql("select userid from %@ where username=? and idCard=?"),
                                  user.name(), user.idCard()));
    default:
      return std::nullopt;
  }
}

bool UserDao::exists(const platform::Value& userId) {
  auto rs = runQuery("select count(userid) from user where userid=?", userId);
  if (!rs) return false;
  bool found = rs->next() && rs->intForColumnIndex(0) > 0;
  rs->close();
  return found;
}

bool UserDao::deleteById(const platform::Value& userId) {
  return runUpdate(tableSql("delete from %@ where userid=?"), userId);
}

model::List<User> UserDao::queryAll() {
  model::List<User> users;
  auto rs = runQuery(tableSql("SELECT * FROM %@"));
  if (!rs) return users;
  while (rs->next()) {
    users.push_back(std::make_shared<User>(
        rs->intForColumn("userId"), rs->stringForColumn("idCard"), rs->stringForColumn("username"),
        rs->stringForColumn("realName"), rs->stringForColumn("password"),
        rs->stringForColumn("accountantNo")));
  }
  rs->close();
  return users;
}
