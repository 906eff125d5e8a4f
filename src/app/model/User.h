#pragma once
// User: a user who logged in online on this device, as kept in the user table so that a later
// offline login can compare credentials. `password` holds what the login stored (the MD5 hex
// digest of the typed password).

#include "model/ModelTypes.h"

class User {
 public:
  User() = default;
  // The six fields in the order of the arguments' names.
  User(model::Number userId, model::Text idCard, model::Text userName, model::Text realName,
       model::Text password, model::Text accountantNo);

  const model::Number& Id() const { return _Id; }
  void setId(model::Number v) { _Id = v; }
  const model::Text& name() const { return _name; }
  void setName(model::Text v) { _name = std::move(v); }
  const model::Text& password() const { return _password; }
  void setPassword(model::Text v) { _password = std::move(v); }
  const model::Text& idCard() const { return _idCard; }
  void setIdCard(model::Text v) { _idCard = std::move(v); }
  // The login screen sets the fields of the user it stores after an online login.
  const model::Text& realName() const { return _realName; }
  void setRealName(model::Text v) { _realName = std::move(v); }
  const model::Text& accountantNo() const { return _accountantNo; }
  void setAccountantNo(model::Text v) { _accountantNo = std::move(v); }

 private:
  model::Number _Id;
  model::Text _name;
  model::Text _password;
  model::Text _idCard;
  model::Text _realName;
  model::Text _accountantNo;
};
