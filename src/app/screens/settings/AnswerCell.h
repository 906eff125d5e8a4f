#pragma once
// AnswerCell: one question and its answer in the FAQ list: a "q" icon beside the question
// (black) and an "a" icon beside the answer (grey), both in the 13-point system font with no
// line limit. The FAQ screen fills the labels and moves them to fit the texts. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/ui/TableViewCell.h"

class AnswerCell : public platform::TableViewCell {
  CH_SHARED_OBJECT(AnswerCell)

 public:
  const std::shared_ptr<platform::ImageView>& headIV() const { return _headIV; }
  void setHeadIV(std::shared_ptr<platform::ImageView> v) { _headIV = std::move(v); }
  const std::shared_ptr<platform::Label>& questionLabel() const { return _questionLabel; }
  void setQuestionLabel(std::shared_ptr<platform::Label> v) { _questionLabel = std::move(v); }
  const std::shared_ptr<platform::ImageView>& answerIV() const { return _answerIV; }
  void setAnswerIV(std::shared_ptr<platform::ImageView> v) { _answerIV = std::move(v); }
  const std::shared_ptr<platform::Label>& answerLabel() const { return _answerLabel; }
  void setAnswerLabel(std::shared_ptr<platform::Label> v) { _answerLabel = std::move(v); }

 protected:
  AnswerCell(platform::TableViewCellStyle style, std::optional<std::string> reuseIdentifier);

 private:
  void initView();

  std::shared_ptr<platform::ImageView> _headIV;
  std::shared_ptr<platform::Label> _questionLabel;
  std::shared_ptr<platform::ImageView> _answerIV;
  std::shared_ptr<platform::Label> _answerLabel;
};
