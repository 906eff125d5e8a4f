#include "model/User.h"

User::User(model::Number userId, model::Text idCard, model::Text userName, model::Text realName,
           model::Text password, model::Text accountantNo)
    : _Id(userId),
      _name(std::move(userName)),
      _password(std::move(password)),
      _idCard(std::move(idCard)),
      _realName(std::move(realName)),
      _accountantNo(std::move(accountantNo)) {}
