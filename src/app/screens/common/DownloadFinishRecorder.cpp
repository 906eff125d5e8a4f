#include "screens/common/DownloadFinishRecorder.h"

#include "download/DownloadNotifications.h"
#include "download/DownloadUtil.h"
#include "model/GlobalModel.h"

DownloadFinishRecorder::DownloadFinishRecorder()
    : observer_(platform::NotificationCenter::defaultCenter().addObserver(
          kCellFinish, [this](const platform::Notification& n) { cellFinish(n); })) {}

void DownloadFinishRecorder::cellFinish(const platform::Notification& notification) {
  const platform::Value* key = platform::find(notification.userInfo, "cwId");
  if (!key) return;
  const std::string text = key->stringValue();
  const std::optional<std::string> year = DownloadUtil::getAbsoluteToRealYear(text);
  if (!year) return;
  if (!dao_) dao_ = std::make_unique<DownloadDao>();
  auto model = GlobalModel::sharedModel();
  dao_->update(
      platform::Value(model->userId()), platform::Value(DownloadUtil::getAbsoluteToRealCWId(text)),
      platform::Value(DownloadDao::kStateFinished), platform::Value(model->areaCode().value_or("")),
      platform::Value(platform::leadingInteger(*year)));
}
